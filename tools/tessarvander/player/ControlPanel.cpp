#include "player/ControlPanel.h"

#include <imgui.h>
#include <backends/imgui_impl_opengl3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "player/Keys.h"
#include "player/MotionMenu.h"
#include "player/PictureOverlays.h"
#include "sys/Messages.h"

namespace tool {
namespace {

constexpr float kPanelWidth = 430.0f;
constexpr float kMargin = 8.0f;
const ImVec4 kProblem(1, 0.4f, 0.4f, 1), kQuiet(0.75f, 0.75f, 0.75f, 1), kLit(0.8f, 0.5f, 0.1f, 1);

// `text` shortened with "..." until it fits `width` pixels.
std::string Fitted(const std::string& text, float width) {
  if (ImGui::CalcTextSize(text.c_str()).x <= width) return text;
  std::string shortened = text;
  while (!shortened.empty() && ImGui::CalcTextSize((shortened + "...").c_str()).x > width) shortened.pop_back();
  return shortened + "...";
}

// Buttons laid three to a row, each a third of the row, their labels fitted
// to them; every button is checked for its label.
class ButtonRow {
 public:
  explicit ButtonRow(PanelLayout& layout, int columns = 3) : layout(layout), columns(columns) {
    const float spacing = ImGui::GetStyle().ItemSpacing.x;
    width = (ImGui::GetContentRegionAvail().x - (columns - 1) * spacing) / columns;
  }
  bool Button(const std::string& label, bool lit = false) {
    if (column++ % columns != 0) ImGui::SameLine();
    const float padding = 2.0f * ImGui::GetStyle().FramePadding.x;
    const std::string shown = Fitted(label, width - padding);
    if (lit) ImGui::PushStyleColor(ImGuiCol_Button, ImVec4(0.2f, 0.5f, 0.3f, 1));
    const bool pressed = ImGui::Button(shown.c_str(), ImVec2(width, 0.0f));
    if (lit) ImGui::PopStyleColor();
    ++layout.buttons;
    if (ImGui::CalcTextSize(shown.c_str(), nullptr, true).x + padding > ImGui::GetItemRectSize().x + 0.5f)
      layout.clippedButtons.push_back(shown);
    return pressed;
  }

 private:
  PanelLayout& layout;
  int columns;
  float width = 0.0f;
  int column = 0;
};

// The keys that steer the tempo have their buttons by the tempo.
bool SteersTempo(PlayerAction action) {
  switch (action) {
    case PlayerAction::TempoOne:
    case PlayerAction::HalveTempo:
    case PlayerAction::DoubleTempo:
    case PlayerAction::ToggleTempoLock: return true;
    default: return false;
  }
}

// A small "learn" button for a target; lit while it is being learned.
void LearnButton(const MidiMap& map, const MidiTarget& target, const char* id, PanelInput& input) {
  const bool learning = map.Learning() && map.LearningTarget() == target;
  if (learning) ImGui::PushStyleColor(ImGuiCol_Button, kLit);
  ImGui::PushID(id);
  // One width whatever it says, so the slider beside it never moves.
  if (ImGui::Button(learning ? "learning" : "learn", ImVec2(ImGui::CalcTextSize("learning").x + 8.0f, 0.0f)))
    input.midi.learn = target;
  ImGui::PopID();
  if (learning) ImGui::PopStyleColor();
}

// The panel's title: how the drawing goes. ImGui's "###" keeps the
// window's identity while its title changes.
std::string PanelTitle(const PanelState& state) {
  char title[160];
  std::snprintf(title, sizeof title, "Tessarvander  frame %ld  %.1f ms  %.1f drawn/s  at %.0f %%###panel", state.frame,
                state.drawMilliseconds, state.framesPerSecond, 100.0 * state.scale);
  return title;
}

// What is on, in red, after the tempo's line.
void DrawWhatIsOn(const PanelState& state) {
  if (state.autopilot) {
    ImGui::SameLine();
    if (state.autopilotWaits > 0) ImGui::TextDisabled("autopilot waits %ld bars", state.autopilotWaits);
    else ImGui::TextColored(ImVec4(0.4f, 0.9f, 1.0f, 1), "AUTOPILOT");
  }
  if (!state.paused && !state.recording && !state.takeRecording && !state.blackout) return;
  ImGui::SameLine();
  ImGui::TextColored(kProblem, "%s%s%s%s", state.paused ? " paused" : "", state.recording ? " video" : "",
                     state.takeRecording ? " take" : "", state.blackout ? " BLACKOUT" : "");
}

// The tempo, its source and the beat of the bar as four lights.
void DrawTempoLine(const PanelState& state, PanelInput& input) {
  ImGui::SetNextItemWidth(100);
  if (ImGui::BeginCombo("##tempo source", TempoSourceName(state.tempoSource))) {
    for (TempoSource source : kTempoSources)
      if (ImGui::Selectable(TempoSourceName(source), source == state.tempoSource)) input.midi.source = source;
    ImGui::EndCombo();
  }
  ImGui::SameLine();
  if (state.beatsPerMinute <= 0.0) {
    ImGui::TextDisabled(state.tempoSource == TempoSource::Link ? "no tempo yet (%zu Link peers)"
                        : state.tempoChanging                  ? "a tempo is coming"
                                                               : "no tempo yet",
                        state.linkPeers);
    return DrawWhatIsOn(state);
  }
  ImGui::Text("%.1f bpm%s%s", state.beatsPerMinute, state.tempoChanging ? " (changing)" : "",
              state.tempoLocked ? " locked" : "");
  for (int beat = 0; beat < 4; ++beat) {
    ImGui::SameLine();
    ImGui::TextColored(beat == state.beatInBar ? ImVec4(1, 0.8f, 0.2f, 1) : ImVec4(0.35f, 0.35f, 0.35f, 1),
                       beat == 0 ? "[1]" : "[ ]");
  }
  if (state.tempoSource == TempoSource::Link) {
    ImGui::SameLine();
    ImGui::TextDisabled("%zu peers", state.linkPeers);
  }
  DrawWhatIsOn(state);
}

bool ToggledOn(PlayerAction action, const PanelState& state);

// The tempo, its source and the beat of the bar as four lights; under
// them, the buttons that steer it.
void DrawTempo(const PanelState& state, PanelLayout& layout, PanelInput& input) {
  DrawTempoLine(state, input);
  ButtonRow row(layout, 4);
  for (const KeyBinding& binding : KeyBindings()) {
    const bool on = ToggledOn(binding.action, state);
    if (binding.button && SteersTempo(binding.action) && row.Button(ButtonLabel(binding, on), on))
      input.actions.push_back(binding.action);
  }
}

// A slider for every parameter, its value with what it means; the banded
// ones with their named choices.
void DrawLook(const PanelState& state, PanelInput& input) {
  const std::string header = "Look" + (state.lookName.empty() ? "" : ": " + Printable(state.lookName, 80)) + "###look";
  if (!ImGui::CollapsingHeader(header.c_str(), ImGuiTreeNodeFlags_DefaultOpen)) return;
  const float nameWidth = ImGui::CalcTextSize("Depth Layers").x + ImGui::GetStyle().ItemInnerSpacing.x;
  for (const ParameterDescription& parameter : *state.parameters) {
    float value = (*state.values)[parameter.index];
    ImGui::PushID(static_cast<int>(parameter.index));
    MotionButton(state, parameter, input);
    ImGui::SameLine();
    if (state.midiMap) {
      MidiTarget target;
      target.parameter = parameter.index;
      LearnButton(*state.midiMap, target, "learn", input);
      ImGui::SameLine();
    }
    // "0.500  Julia": the value to three decimals and what it means ("%"
    // would start a format).
    std::string text;
    char number[32];
    std::snprintf(number, sizeof number, "%.3f", value);
    std::string shown = number;
    const std::string meaning = state.profile ? state.profile->Meaning(parameter.index, value) : "";
    if (!meaning.empty()) shown += "  " + meaning;
    for (char c : shown) text += c == '%' ? std::string("%%") : std::string(1, c);
    const std::vector<Choice> choices = state.profile ? state.profile->Choices(parameter.index) : std::vector<Choice>();
    const float comboWidth = choices.empty() ? 0.0f : 30.0f + ImGui::GetStyle().ItemInnerSpacing.x;
    ImGui::SetNextItemWidth(ImGui::GetContentRegionAvail().x - nameWidth - comboWidth);
    if (ImGui::SliderFloat("##value", &value, parameter.minimum, parameter.maximum, text.c_str()))
      input.edits.push_back({parameter.index, value});
    if (!choices.empty()) {
      ImGui::SameLine(0.0f, ImGui::GetStyle().ItemInnerSpacing.x);
      const int chosen = state.profile->ChoiceOf(parameter.index, (*state.values)[parameter.index]);
      if (ImGui::BeginCombo("##choice", "", ImGuiComboFlags_NoPreview)) {
        for (size_t i = 0; i < choices.size(); ++i)
          if (ImGui::Selectable(choices[i].name.c_str(), static_cast<int>(i) == chosen))
            input.edits.push_back({parameter.index, choices[i].value});
        ImGui::EndCombo();
      }
    }
    ImGui::SameLine(0.0f, ImGui::GetStyle().ItemInnerSpacing.x);
    ImGui::TextUnformatted(parameter.name.c_str());
    ImGui::PopID();
  }
}

// The bank: a button a slot, the last recalled lit; with "store" ticked, a
// button stores the look into its slot.
// The look cued to go next, its button to go, and its picture as it moves.
void DrawCue(const PanelState& state, PanelLayout& layout, PanelInput& input) {
  if (state.cued < 0 || !state.bank) return;
  ImGui::Text("cued: %ld %s", state.cued + 1, Printable(state.bank->Name(static_cast<size_t>(state.cued)), 60).c_str());
  ButtonRow row(layout);
  for (const KeyBinding& binding : KeyBindings())
    if (binding.button && binding.action == PlayerAction::Go && row.Button(ButtonLabel(binding, false)))
      input.actions.push_back(binding.action);
  if (state.previewTexture == 0) return;
  // GL's rows run bottom up.
  ImGui::Image(reinterpret_cast<ImTextureID>(static_cast<intptr_t>(state.previewTexture)),
               ImVec2(static_cast<float>(state.previewWidth), static_cast<float>(state.previewHeight)), ImVec2(0, 1),
               ImVec2(1, 0));
}

void DrawBank(const PanelState& state, bool& storing, PanelLayout& layout, PanelInput& input) {
  if (!state.bank || !ImGui::CollapsingHeader("Bank", ImGuiTreeNodeFlags_DefaultOpen)) return;
  DrawCue(state, layout, input);
  ImGui::Checkbox("store the look into a slot", &storing);
  // The autopilot changes these looks: its switch sits with them.
  ImGui::SameLine();
  bool flying = state.autopilot;
  if (ImGui::Checkbox("autopilot", &flying)) {
    PlayerRequest request(PlayerAction::SetAutopilot);
    request.on = flying;
    input.actions.push_back(request);
  }
  ButtonRow row(layout);
  for (size_t i = 0; i < state.bank->Size(); ++i) {
    // "5 nebula-fold" for 05-nebula-fold.json: the file's own number, which
    // orders the bank, is the key's already.
    const std::string& name = state.bank->Name(i);
    const std::string label = std::to_string(i + 1) + " " + Printable(Unnumbered(name), 60);
    ImGui::PushID(static_cast<int>(i));
    if (row.Button(label, static_cast<long>(i) == state.bank->Last()))
      input.actions.push_back({storing ? PlayerAction::StorePreset : PlayerAction::RecallPreset, static_cast<int>(i)});
    ImGui::PopID();
  }
}

// Whether the toggle a button stands for is on, for its label.
bool ToggledOn(PlayerAction action, const PanelState& state) {
  switch (action) {
    case PlayerAction::TogglePause: return state.paused;
    case PlayerAction::ToggleRecording: return state.recording;
    case PlayerAction::ToggleTake: return state.takeRecording;
    case PlayerAction::ToggleBlackout: return state.blackout;
    case PlayerAction::ToggleOutput: return state.output;
    case PlayerAction::ToggleTempoLock: return state.tempoLocked;
    default: return false;
  }
}

// A button for every key that has one, as the key table labels it.
void DrawKeys(const PanelState& state, PanelLayout& layout, PanelInput& input) {
  if (!ImGui::CollapsingHeader("Keys", ImGuiTreeNodeFlags_DefaultOpen)) return;
  ButtonRow row(layout);
  for (const KeyBinding& binding : KeyBindings()) {
    if (!binding.button || SteersTempo(binding.action) || binding.action == PlayerAction::Go) continue;
    if (row.Button(ButtonLabel(binding, ToggledOn(binding.action, state)))) input.actions.push_back(binding.action);
  }
  if (state.askingToQuit) ImGui::TextColored(ImVec4(1, 0.8f, 0.3f, 1), "Press Q again to quit (Ctrl+Q quits at once)");
}

// The map: every mapping with its mode and a clear button, and learn
// buttons for the actions.
void DrawMidiMap(const MidiMap& map, int& preset, PanelInput& input) {
  if (!ImGui::CollapsingHeader("MIDI")) return;
  for (const MidiTarget& target : LearnableActions()) {
    const std::string name = map.TargetName(target);
    ImGui::Text("%-16s", name.c_str());
    ImGui::SameLine();
    LearnButton(map, target, name.c_str(), input);
  }
  ImGui::SetNextItemWidth(90);
  ImGui::InputInt("##preset", &preset);
  preset = std::clamp(preset, 1, static_cast<int>(kBankSlots));
  ImGui::SameLine();
  ImGui::Text("recall");
  ImGui::SameLine();
  MidiTarget recall;
  recall.isAction = true;
  recall.action = PlayerAction::RecallPreset;
  recall.number = preset - 1;
  LearnButton(map, recall, "recall", input);
  ImGui::Separator();
  const auto& mappings = map.Mappings();
  if (mappings.empty()) ImGui::TextDisabled("nothing mapped: press learn, then move a control");
  for (size_t i = 0; i < mappings.size(); ++i) {
    const MidiMapping& mapping = mappings[i];
    ImGui::PushID(static_cast<int>(i));
    ImGui::Text("%s: %s", map.TargetName(mapping.target).c_str(), map.Describe(mapping).c_str());
    ImGui::SameLine();
    ImGui::SetNextItemWidth(120);
    if (ImGui::BeginCombo("##mode", MidiModeName(mapping.mode))) {
      for (MidiMode mode : MidiModesFor(mapping.note)) {
        if (ImGui::Selectable(MidiModeName(mode), mode == mapping.mode)) {
          input.midi.modeOf = static_cast<long>(i);
          input.midi.mode = mode;
        }
      }
      ImGui::EndCombo();
    }
    ImGui::SameLine();
    if (ImGui::SmallButton("clear")) input.midi.clear = static_cast<long>(i);
    ImGui::PopID();
  }
}

// The newest message always; the ones before it when the section is open.
// Each wraps within the panel.
void DrawMessages(const Console& console) {
  const auto& recent = console.Recent();
  if (recent.empty()) return;
  ImGui::PushTextWrapPos(0.0f);
  ImGui::TextColored(recent.back().problem ? kProblem : kQuiet, "%s", recent.back().text.c_str());
  if (recent.size() >= 2 && ImGui::CollapsingHeader("Messages"))
    for (auto line = recent.rbegin() + 1; line != recent.rend(); ++line)
      ImGui::TextColored(line->problem ? kProblem : kQuiet, "%s", line->text.c_str());
  ImGui::PopTextWrapPos();
}

}  // namespace

ControlPanel::ControlPanel(Window& window) : window(window) {
  IMGUI_CHECKVERSION();
  ImGui::CreateContext();
  ImGui::GetIO().IniFilename = nullptr;  // no imgui.ini left in the user's folder
  ImGui::StyleColorsDark();
  // Compact, so the main controls fit a 720-pixel-high window.
  ImGuiStyle& style = ImGui::GetStyle();
  style.FramePadding.y = 2.0f;
  style.ItemSpacing.y = 2.0f;
  window.StartPanel();
  ImGui_ImplOpenGL3_Init("#version 410 core");
}

ControlPanel::~ControlPanel() {
  ImGui_ImplOpenGL3_Shutdown();
  window.StopPanel();
  ImGui::DestroyContext();
}

bool ControlPanel::WantsKeyboard() const { return shown && ImGui::GetIO().WantTextInput; }

void ControlPanel::AskName(size_t slot, const std::string& name) {
  naming = static_cast<long>(slot);
  focusName = true;
  std::snprintf(nameBuffer, sizeof nameBuffer, "%s", name.c_str());
}

// The name of the look just stored: Enter keeps what is typed, Esc the
// name offered.
void ControlPanel::DrawNaming(PanelInput& input) {
  if (naming < 0) return;
  ImGui::Text("name of slot %ld:", naming + 1);
  ImGui::SameLine();
  if (focusName) ImGui::SetKeyboardFocusHere();
  focusName = false;
  ImGui::SetNextItemWidth(-1.0f);
  const bool entered = ImGui::InputText("##name", nameBuffer, sizeof nameBuffer,
                                        ImGuiInputTextFlags_EnterReturnsTrue | ImGuiInputTextFlags_AutoSelectAll);
  // Enter, or a click elsewhere after typing, names it; Esc leaves the
  // name offered.
  if (entered || ImGui::IsItemDeactivatedAfterEdit()) {
    PlayerRequest request(PlayerAction::NamePreset, static_cast<int>(naming));
    request.text = nameBuffer;
    input.actions.push_back(request);
  }
  if (entered || ImGui::IsItemDeactivated()) naming = -1;
}

void ControlPanel::Draw(const PanelState& state, PanelInput& input) {
  ImGui_ImplOpenGL3_NewFrame();
  window.NewPanelFrame();
  ImGui::NewFrame();
  layout = PanelLayout();
  const ImVec2 display = ImGui::GetIO().DisplaySize;
  layout.displayHeight = display.y;
  // The audience's picture: nothing over it.
  const bool panelShown = shown && !state.audience;
  if (panelShown) {
    ImGui::SetNextWindowPos(ImVec2(kMargin, kMargin), ImGuiCond_FirstUseEver);
    ImGui::SetNextWindowSize(ImVec2(kPanelWidth, display.y - 2.0f * kMargin), ImGuiCond_FirstUseEver);
    ImGui::Begin(PanelTitle(state).c_str());
    DrawTempo(state, layout, input);
    if (state.console) DrawMessages(*state.console);
    DrawLook(state, input);
    DrawNaming(input);
    DrawBank(state, storing, layout, input);
    DrawKeys(state, layout, input);
    if (state.midiMap) DrawMidiMap(*state.midiMap, learnRecall, input);
    layout.contentHeight = ImGui::GetCursorPosY();
    layout.windowHeight = ImGui::GetWindowHeight();
    layout.scrolls = ImGui::GetScrollMaxY() > 0.0f;
    ImGui::End();
  }
  if (!state.audience) DrawOverlays(state, panelShown);
  ImGui::Render();
  ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
}

}  // namespace tool
