#include "player/ControlPanel.h"

#include <imgui.h>
#include <backends/imgui_impl_glfw.h>
#include <backends/imgui_impl_opengl3.h>

#include <algorithm>
#include <cstdio>

#include "formats/ParameterProfile.h"
#include "player/Keys.h"
#include "sys/Messages.h"

namespace tool {
namespace {

// Whether the toggle a button stands for is on, for its label.
bool ToggledOn(PlayerAction action, const PanelState& state) {
  switch (action) {
    case PlayerAction::TogglePause: return state.paused;
    case PlayerAction::ToggleRecording: return state.recording;
    case PlayerAction::ToggleTake: return state.takeRecording;
    case PlayerAction::ToggleBlackout: return state.blackout;
    case PlayerAction::ToggleOutput: return state.output;
    default: return false;
  }
}

constexpr ImGuiWindowFlags kOverlay = ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_AlwaysAutoResize |
                                     ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoFocusOnAppearing |
                                     ImGuiWindowFlags_NoNav | ImGuiWindowFlags_NoInputs;

// A line of text in a small dark box at a fraction of the window.
void Overlay(const char* id, float x, float y, const ImVec4& colour, const std::string& text) {
  const ImVec2 size = ImGui::GetIO().DisplaySize;
  ImGui::SetNextWindowPos(ImVec2(size.x * x, size.y * y), ImGuiCond_Always, ImVec2(x, y));
  ImGui::SetNextWindowBgAlpha(0.7f);
  ImGui::Begin(id, nullptr, kOverlay);
  ImGui::TextColored(colour, "%s", text.c_str());
  ImGui::End();
}

// What shows over the picture whether the panel is shown or not.
void DrawOverlays(const PanelState& state, bool panelShown) {
  if (state.askingToQuit)
    Overlay("##quit", 0.5f, 0.5f, ImVec4(1, 0.8f, 0.3f, 1), "Press Q again to quit (Ctrl+Q quits at once)");
  if (state.showHelp) Overlay("##keys", 0.5f, 0.3f, ImVec4(1, 1, 1, 1), KeyHelp());
  const Console::Line* fresh = state.console ? state.console->Fresh() : nullptr;
  if (fresh && !panelShown)
    Overlay("##message", 0.02f, 0.97f, fresh->problem ? ImVec4(1, 0.4f, 0.4f, 1) : ImVec4(0.9f, 0.9f, 0.9f, 1),
            fresh->text);
}

// A small "learn" button for a target; lit while it is being learned.
void LearnButton(const MidiMap& map, const MidiTarget& target, const char* id, PanelInput& input) {
  const bool learning = map.Learning() && map.LearningTarget() == target;
  if (learning) ImGui::PushStyleColor(ImGuiCol_Button, ImVec4(0.8f, 0.5f, 0.1f, 1));
  ImGui::PushID(id);
  // One width whatever it says, so the slider beside it never moves.
  if (ImGui::Button(learning ? "learning" : "learn", ImVec2(ImGui::CalcTextSize("learning").x + 8.0f, 0.0f)))
    input.midi.learn = target;
  ImGui::PopID();
  if (learning) ImGui::PopStyleColor();
}

// The tempo, its source and the beat of the bar as four lights.
void DrawTempo(const PanelState& state, PanelInput& input) {
  ImGui::SetNextItemWidth(110);
  if (ImGui::BeginCombo("##tempo source", TempoSourceName(state.tempoSource))) {
    for (TempoSource source : kTempoSources)
      if (ImGui::Selectable(TempoSourceName(source), source == state.tempoSource)) input.midi.source = source;
    ImGui::EndCombo();
  }
  ImGui::SameLine();
  if (state.beatsPerMinute <= 0.0) {
    ImGui::TextDisabled(state.tempoSource == TempoSource::Link ? "no tempo yet (%zu Link peers)" : "no tempo yet",
                        state.linkPeers);
    return;
  }
  ImGui::Text("%.1f bpm", state.beatsPerMinute);
  for (int beat = 0; beat < 4; ++beat) {
    ImGui::SameLine();
    ImGui::TextColored(beat == state.beatInBar ? ImVec4(1, 0.8f, 0.2f, 1) : ImVec4(0.35f, 0.35f, 0.35f, 1),
                       beat == 0 ? "[1]" : "[ ]");
  }
  if (state.tempoSource == TempoSource::Link) {
    ImGui::SameLine();
    ImGui::TextDisabled("%zu peers", state.linkPeers);
  }
}

// The map: every mapping with its mode and a clear button, and learn
// buttons for the actions.
void DrawMidiMap(const MidiMap& map, PanelInput& input) {
  if (!ImGui::CollapsingHeader("MIDI")) return;
  for (MidiAction action : LearnableActions()) {
    MidiTarget target;
    target.isAction = true;
    target.action = action;
    ImGui::Text("%-16s", MidiActionName(action));
    ImGui::SameLine();
    LearnButton(map, target, MidiActionName(action), input);
  }
  static int preset = 1;
  ImGui::SetNextItemWidth(90);
  ImGui::InputInt("##preset", &preset);
  preset = std::max(1, std::min(preset, 100));
  ImGui::SameLine();
  ImGui::Text("recall");
  ImGui::SameLine();
  MidiTarget recall;
  recall.isAction = true;
  recall.action = MidiAction::Recall;
  recall.preset = preset - 1;
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

}  // namespace

ControlPanel::ControlPanel(Window& window) : window(window), withPlatform(window.Handle() != nullptr) {
  IMGUI_CHECKVERSION();
  ImGui::CreateContext();
  ImGui::GetIO().IniFilename = nullptr;  // no imgui.ini left in the user's folder
  ImGui::StyleColorsDark();
  if (withPlatform) ImGui_ImplGlfw_InitForOpenGL(window.Handle(), true);
  ImGui_ImplOpenGL3_Init("#version 410 core");
}

ControlPanel::~ControlPanel() {
  ImGui_ImplOpenGL3_Shutdown();
  if (withPlatform) ImGui_ImplGlfw_Shutdown();
  ImGui::DestroyContext();
}

bool ControlPanel::WantsKeyboard() const { return shown && ImGui::GetIO().WantTextInput; }

void ControlPanel::Draw(const PanelState& state, PanelInput& input) {
  ImGui_ImplOpenGL3_NewFrame();
  if (withPlatform) {
    ImGui_ImplGlfw_NewFrame();
  } else {
    int width = 0, height = 0;
    window.FramebufferSize(width, height);
    ImGuiIO& io = ImGui::GetIO();
    io.DisplaySize = ImVec2(static_cast<float>(width), static_cast<float>(height));
    io.DeltaTime = 1.0f / 60.0f;
  }
  ImGui::NewFrame();
  if (shown) {
    ImGui::SetNextWindowPos(ImVec2(10, 10), ImGuiCond_FirstUseEver);
    ImGui::SetNextWindowSize(ImVec2(380, 0), ImGuiCond_FirstUseEver);
    ImGui::Begin("Tessarvander");
    ImGui::Text("frame %ld   %.1f ms to draw   %.1f drawn/s%s", state.frame, state.drawMilliseconds,
                state.framesPerSecond, state.paused ? "   paused" : "");
    DrawTempo(state, input);
    if (state.skippedFrames > 0)
      ImGui::Text("%ld frames advanced without drawing, to keep time", state.skippedFrames);
    if (state.recording || state.takeRecording || state.blackout)
      ImGui::TextColored(ImVec4(1, 0.3f, 0.3f, 1), "%s%s%s", state.recording ? "recording video  " : "",
                         state.takeRecording ? "recording take  " : "", state.blackout ? "BLACKOUT" : "");
    ImGui::Separator();
    for (const hostkit::ParameterDescription& parameter : *state.parameters) {
      float value = (*state.values)[parameter.index];
      // The plugin's own text in place of the slider's number ("%" would
      // start a format).
      // What the value means to the shader follows it ("Julia", "6 layers").
      std::string text;
      std::string shown = (*state.texts)[parameter.index];
      const std::string meaning = state.profile ? state.profile->Meaning(parameter.index, value) : "";
      if (!meaning.empty()) shown += "  " + meaning;
      for (char c : shown) text += c == '%' ? std::string("%%") : std::string(1, c);
      ImGui::PushID(static_cast<int>(parameter.index));
      if (state.midiMap) {
        MidiTarget target;
        target.parameter = parameter.index;
        LearnButton(*state.midiMap, target, "learn", input);
        ImGui::SameLine();
        // The slider gives up the button's width, not the name's.
        ImGui::SetNextItemWidth(ImGui::GetContentRegionAvail().x - ImGui::CalcTextSize("Depth Layers").x - 8.0f);
      }
      if (ImGui::SliderFloat(parameter.name.c_str(), &value, parameter.minimum, parameter.maximum, text.c_str()))
        input.edits.push_back({parameter.index, value});
      const std::vector<Choice> choices = state.profile ? state.profile->Choices(parameter.index) : std::vector<Choice>();
      if (!choices.empty()) {
        const int chosen = state.profile->ChoiceOf(parameter.index, (*state.values)[parameter.index]);
        if (ImGui::BeginCombo("##choice", choices[chosen].name.c_str())) {
          for (size_t i = 0; i < choices.size(); ++i)
            if (ImGui::Selectable(choices[i].name.c_str(), static_cast<int>(i) == chosen))
              input.edits.push_back({parameter.index, choices[i].value});
          ImGui::EndCombo();
        }
      }
      ImGui::PopID();
    }
    if (state.bank) {
      ImGui::Separator();
      ImGui::Text("bank %s", state.bank->Folder().c_str());
      for (size_t i = 0; i < state.bank->Size(); ++i) {
        if (i % 3 != 0) ImGui::SameLine();
        // "5 nebula-fold" for 05-nebula-fold.json: the file's own number, which
        // orders the bank, is the key's already.
        const std::string& name = state.bank->Name(i);
        const size_t digits = name.find_first_not_of("0123456789");
        const bool numbered = digits > 0 && digits != std::string::npos && (name[digits] == '-' || name[digits] == '_');
        const std::string label = std::to_string(i + 1) + " " + Printable(numbered ? name.substr(digits + 1) : name, 40);
        const bool last = static_cast<long>(i) == state.bank->Last();
        if (last) ImGui::PushStyleColor(ImGuiCol_Button, ImVec4(0.2f, 0.5f, 0.3f, 1));
        if (ImGui::Button(label.c_str())) input.actions.push_back({PlayerAction::RecallPreset, static_cast<int>(i)});
        if (last) ImGui::PopStyleColor();
      }
    }
    if (state.midiMap) DrawMidiMap(*state.midiMap, input);
    ImGui::Separator();
    int column = 0;
    for (const KeyBinding& binding : KeyBindings()) {
      if (!binding.button) continue;
      if (column++ % 3 != 0) ImGui::SameLine();
      if (ImGui::Button(ButtonLabel(binding, ToggledOn(binding.action, state)).c_str()))
        input.actions.push_back(binding.action);
    }
    if (state.console && !state.console->Recent().empty()) {
      ImGui::Separator();
      for (const Console::Line& line : state.console->Recent())
        ImGui::TextColored(line.problem ? ImVec4(1, 0.4f, 0.4f, 1) : ImVec4(0.75f, 0.75f, 0.75f, 1), "%s",
                           line.text.c_str());
    }
    ImGui::End();
  }
  DrawOverlays(state, shown);
  ImGui::Render();
  ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
}

}  // namespace tool
