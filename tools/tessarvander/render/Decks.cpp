#include "render/Decks.h"

namespace tool {

bool Decks::Start(const HostSession& session, int width, int height, double framesPerSecond, bool twoDecks,
                  std::string& error) {
  two = twoDecks;
  if (!decks[0].Start(session, width, height, framesPerSecond, error) || !dimmer.Create(error)) return false;
  if (two && (!decks[1].Start(session, width, height, framesPerSecond, error) || !mixer.Create(error) ||
              !blended.Create(width, height, hostkit::PixelFormat::Rgba8, error)))
    return false;
  picture = &decks[0].Target();
  return true;
}

bool Decks::Resize(int width, int height, std::string& error) {
  if (!decks[0].Resize(width, height, error)) return false;
  if (!two) return true;
  if (!decks[1].Resize(width, height, error)) return false;
  if (blended.Width() == width && blended.Height() == height) return true;
  blended.Release();
  return blended.Create(width, height, hostkit::PixelFormat::Rgba8, error);
}

void Decks::SetBeat(float beatsPerMinute, float barPhase) {
  decks[0].SetBeat(beatsPerMinute, barPhase);
  if (two) decks[1].SetBeat(beatsPerMinute, barPhase);
}

bool Decks::Frame(long frame, const Look& look, bool drawn) {
  const float mix = two ? look.mix : 0.0f;
  for (int deck = 0; deck < (two ? 2 : 1); ++deck) {
    const std::vector<ParameterValue>& values = deck == 0 ? *look.first : *look.second;
    const bool shows = drawn && (deck == 0 ? mix < 1.0f : mix > 0.0f);
    if (!(shows ? decks[deck].Draw(frame, values) : decks[deck].Advance(frame, values))) return false;
  }
  if (!drawn) return true;
  if (mix <= 0.0f) {
    picture = &decks[0].Target();
  } else if (mix >= 1.0f) {
    picture = &decks[1].Target();
  } else {
    mixer.Blend(decks[0].Target(), decks[1].Target(), mix, look.blend, blended);
    picture = &blended;
  }
  if (look.level < 1.0f) dimmer.Apply(*picture, look.level);
  return true;
}

}  // namespace tool
