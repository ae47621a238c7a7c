#include "player/ControlPanel.h"

#include <imgui.h>
#include <backends/imgui_impl_glfw.h>
#include <backends/imgui_impl_opengl3.h>

#include <cstdio>

#include "session/ParameterProfile.h"

namespace cli {
namespace {

struct Button {
  const char* label;
  PlayerAction action;
};

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
  const StageMessages::Line* fresh = state.messages ? state.messages->Fresh(state.now) : nullptr;
  if (fresh && !panelShown)
    Overlay("##message", 0.02f, 0.97f, fresh->problem ? ImVec4(1, 0.4f, 0.4f, 1) : ImVec4(0.9f, 0.9f, 0.9f, 1),
            fresh->text);
}

}  // namespace

ControlPanel::ControlPanel(PlayerWindow& window) {
  IMGUI_CHECKVERSION();
  ImGui::CreateContext();
  ImGui::GetIO().IniFilename = nullptr;  // no imgui.ini left in the user's folder
  ImGui::StyleColorsDark();
  ImGui_ImplGlfw_InitForOpenGL(window.Handle(), true);
  ImGui_ImplOpenGL3_Init("#version 410 core");
}

ControlPanel::~ControlPanel() {
  ImGui_ImplOpenGL3_Shutdown();
  ImGui_ImplGlfw_Shutdown();
  ImGui::DestroyContext();
}

bool ControlPanel::WantsKeyboard() const { return shown && ImGui::GetIO().WantTextInput; }

void ControlPanel::Draw(const PanelState& state, PanelInput& input) {
  ImGui_ImplOpenGL3_NewFrame();
  ImGui_ImplGlfw_NewFrame();
  ImGui::NewFrame();
  if (shown) {
    ImGui::SetNextWindowPos(ImVec2(10, 10), ImGuiCond_FirstUseEver);
    ImGui::SetNextWindowSize(ImVec2(380, 0), ImGuiCond_FirstUseEver);
    ImGui::Begin("Tessarvander");
    ImGui::Text("frame %ld   %.1f ms to draw   %.1f drawn/s%s", state.frame, state.drawMilliseconds,
                state.framesPerSecond, state.paused ? "   paused" : "");
    if (state.beatsPerMinute > 0.0) {
      ImGui::Text("tempo %.1f (tapped)  ", state.beatsPerMinute);
      for (int beat = 0; beat < 4; ++beat) {
        ImGui::SameLine();
        ImGui::TextColored(beat == state.beatInBar ? ImVec4(1, 0.8f, 0.2f, 1) : ImVec4(0.35f, 0.35f, 0.35f, 1),
                           beat == 0 ? "[1]" : "[ ]");
      }
    }
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
        const std::string label = std::to_string(i + 1) + " " + (numbered ? name.substr(digits + 1) : name);
        const bool last = static_cast<long>(i) == state.bank->Last();
        if (last) ImGui::PushStyleColor(ImGuiCol_Button, ImVec4(0.2f, 0.5f, 0.3f, 1));
        if (ImGui::Button(label.c_str())) input.actions.push_back({PlayerAction::RecallPreset, static_cast<int>(i)});
        if (last) ImGui::PopStyleColor();
      }
    }
    ImGui::Separator();
    const Button buttons[] = {{state.paused ? "Play (Space)" : "Pause (Space)", PlayerAction::TogglePause},
                              {"Full screen (F)", PlayerAction::ToggleFullscreen},
                              {"Still (S)", PlayerAction::SaveStill},
                              {state.recording ? "Stop video (R)" : "Record video (R)", PlayerAction::ToggleRecording},
                              {"Preset (P)", PlayerAction::SavePreset},
                              {state.takeRecording ? "Stop take (T)" : "Record take (T)", PlayerAction::ToggleTake},
                              {state.blackout ? "Back (B)" : "Blackout (B)", PlayerAction::ToggleBlackout},
                              {state.output ? "Close output (O)" : "Output window (O)", PlayerAction::ToggleOutput},
                              {"Tap (Enter)", PlayerAction::Tap},
                              {"Keys (H)", PlayerAction::ToggleHelp},
                              {"Hide panel (Tab)", PlayerAction::TogglePanel},
                              {"Quit (Q Q)", PlayerAction::AskToQuit}};
    int column = 0;
    for (const Button& button : buttons) {
      if (column++ % 3 != 0) ImGui::SameLine();
      if (ImGui::Button(button.label)) input.actions.push_back(button.action);
    }
    if (state.messages && !state.messages->Recent().empty()) {
      ImGui::Separator();
      for (const StageMessages::Line& line : state.messages->Recent())
        ImGui::TextColored(line.problem ? ImVec4(1, 0.4f, 0.4f, 1) : ImVec4(0.75f, 0.75f, 0.75f, 1), "%s",
                           line.text.c_str());
    }
    ImGui::End();
  }
  DrawOverlays(state, shown);
  ImGui::Render();
  ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
}

}  // namespace cli
