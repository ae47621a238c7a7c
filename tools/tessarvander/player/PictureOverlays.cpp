#include "player/PictureOverlays.h"

#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "player/Keys.h"

namespace tool {
namespace {

constexpr ImGuiWindowFlags kOverlay = ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_AlwaysAutoResize |
                                     ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoFocusOnAppearing |
                                     ImGuiWindowFlags_NoNav | ImGuiWindowFlags_NoInputs;
const ImVec4 kProblem(1, 0.4f, 0.4f, 1);

// A line of text in a small dark box at a fraction of the window.
// Long lines wrap within the window.
void Overlay(const char* id, float x, float y, const ImVec4& colour, const std::string& text) {
  const ImVec2 size = ImGui::GetIO().DisplaySize;
  ImGui::SetNextWindowPos(ImVec2(size.x * x, size.y * y), ImGuiCond_Always, ImVec2(x, y));
  ImGui::SetNextWindowBgAlpha(0.7f);
  ImGui::Begin(id, nullptr, kOverlay);
  ImGui::PushTextWrapPos(size.x * 0.9f);
  ImGui::TextColored(colour, "%s", text.c_str());
  ImGui::PopTextWrapPos();
  ImGui::End();
}

// The key list over the picture, in as many columns as the window's height
// needs, each key's words wrapping within its column.
void KeyListOverlay() {
  const ImVec2 size = ImGui::GetIO().DisplaySize;
  std::vector<const KeyBinding*> keys;
  for (const KeyBinding& binding : KeyBindings())
    if (binding.help) keys.push_back(&binding);
  const float line = ImGui::GetTextLineHeightWithSpacing();
  const int columns = std::clamp(static_cast<int>(std::ceil(keys.size() * line / (size.y * 0.8f))), 1, 4);
  ImGui::SetNextWindowPos(ImVec2(size.x * 0.5f, size.y * 0.5f), ImGuiCond_Always, ImVec2(0.5f, 0.5f));
  ImGui::SetNextWindowSizeConstraints(ImVec2(0, 0), ImVec2(size.x * 0.95f, size.y * 0.95f));
  ImGui::SetNextWindowBgAlpha(0.8f);
  ImGui::Begin("##keys", nullptr, kOverlay);
  const float keyWidth = ImGui::CalcTextSize("Shift+1-9, 0").x;
  if (ImGui::BeginTable("keys", 2 * columns, ImGuiTableFlags_SizingFixedFit,
                        ImVec2(std::min(size.x * 0.9f, columns * (keyWidth + 330.0f)), 0.0f))) {
    for (int column = 0; column < columns; ++column) {
      ImGui::TableSetupColumn(nullptr, ImGuiTableColumnFlags_WidthFixed, keyWidth);
      ImGui::TableSetupColumn(nullptr, ImGuiTableColumnFlags_WidthStretch);
    }
    const size_t rows = (keys.size() + columns - 1) / columns;
    for (size_t row = 0; row < rows; ++row) {
      ImGui::TableNextRow();
      for (int column = 0; column < columns; ++column) {
        const size_t index = column * rows + row;
        if (index >= keys.size()) break;
        ImGui::TableNextColumn();
        ImGui::TextColored(ImVec4(1, 0.85f, 0.4f, 1), "%s", keys[index]->keyName);
        ImGui::TableNextColumn();
        ImGui::TextWrapped("%s", keys[index]->help);
      }
    }
    ImGui::EndTable();
  }
  ImGui::End();
}

}  // namespace

// What shows over the picture in a window, whether the panel is shown or not.
void DrawOverlays(const PanelState& state, bool panelShown) {
  if (state.askingToQuit && !panelShown)
    Overlay("##quit", 0.5f, 0.5f, ImVec4(1, 0.8f, 0.3f, 1), "Press Q again to quit (Ctrl+Q quits at once)");
  if (state.showHelp) KeyListOverlay();
  const Console::Line* fresh = state.console ? state.console->Fresh() : nullptr;
  if (fresh && !panelShown && state.messagesOverPicture)
    Overlay("##message", 0.02f, 0.97f, fresh->problem ? kProblem : ImVec4(0.9f, 0.9f, 0.9f, 1), fresh->text);
}

}  // namespace tool
