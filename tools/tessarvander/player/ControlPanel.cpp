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
    ImGui::Text("frame %ld   %.1f ms to draw   %.1f frames/s%s", state.frame, state.drawMilliseconds,
                state.framesPerSecond, state.paused ? "   paused" : "");
    if (state.recording || state.takeRecording)
      ImGui::TextColored(ImVec4(1, 0.3f, 0.3f, 1), "%s%s", state.recording ? "recording video  " : "",
                         state.takeRecording ? "recording take" : "");
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
    ImGui::Separator();
    const Button buttons[] = {{state.paused ? "Play (Space)" : "Pause (Space)", PlayerAction::TogglePause},
                              {"Full screen (F)", PlayerAction::ToggleFullscreen},
                              {"Still (S)", PlayerAction::SaveStill},
                              {state.recording ? "Stop video (R)" : "Record video (R)", PlayerAction::ToggleRecording},
                              {"Preset (P)", PlayerAction::SavePreset},
                              {state.takeRecording ? "Stop take (T)" : "Record take (T)", PlayerAction::ToggleTake},
                              {"Hide panel (Tab)", PlayerAction::TogglePanel},
                              {"Quit (Q)", PlayerAction::Quit}};
    int column = 0;
    for (const Button& button : buttons) {
      if (column++ % 3 != 0) ImGui::SameLine();
      if (ImGui::Button(button.label)) input.actions.push_back(button.action);
    }
    ImGui::End();
  }
  ImGui::Render();
  ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
}

}  // namespace cli
