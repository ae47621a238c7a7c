#include "render/Decks.h"

namespace tool {

Decks::Decks() : current(std::make_unique<Set>()) {}
Decks::~Decks() = default;

bool Decks::Start(const HostSession& hostSession, int width, int height, double rate, bool twoDecks,
                  std::string& error) {
  session = &hostSession;
  framesPerSecond = rate;
  two = twoDecks;
  if (!StartSet(*current, width, height, error) || !dimmer.Create(error) || !mixer.Create(error)) return false;
  picture = current->picture;
  return true;
}

bool Decks::StartSet(Set& set, int width, int height, std::string& error) {
  if (!set.decks[0].Start(*session, width, height, framesPerSecond, error)) return false;
  if (two && (!set.decks[1].Start(*session, width, height, framesPerSecond, error) ||
              !set.blended.Create(width, height, hostkit::PixelFormat::Rgba8, error)))
    return false;
  if (beatSet)
    for (int deck = 0; deck < (two ? 2 : 1); ++deck) set.decks[deck].SetBeat(beatsPerMinute, barPhase);
  set.picture = &set.decks[0].Target();
  return true;
}

bool Decks::Resize(int width, int height, std::string& error) {
  if (!ResizeSet(*current, width, height, error) || (fresh && !ResizeSet(*fresh, width, height, error))) return false;
  if (!fresh || (renewing.Width() == width && renewing.Height() == height)) return true;
  renewing.Release();
  return renewing.Create(width, height, hostkit::PixelFormat::Rgba8, error);
}

bool Decks::ResizeSet(Set& set, int width, int height, std::string& error) {
  if (!set.decks[0].Resize(width, height, error)) return false;
  if (!two) return true;
  if (!set.decks[1].Resize(width, height, error)) return false;
  if (set.blended.Width() == width && set.blended.Height() == height) return true;
  set.blended.Release();
  return set.blended.Create(width, height, hostkit::PixelFormat::Rgba8, error);
}

void Decks::SetBeat(float bpm, float phase) {
  beatsPerMinute = bpm, barPhase = phase, beatSet = true;
  for (Set* set : {current.get(), fresh.get()})
    if (set)
      for (int deck = 0; deck < (two ? 2 : 1); ++deck) set->decks[deck].SetBeat(bpm, phase);
}

bool Decks::Renew(long dissolveFrames, std::string& error) {
  if (fresh) return true;
  auto set = std::make_unique<Set>();
  if (!StartSet(*set, Width(), Height(), error)) return false;
  if ((renewing.Width() != Width() || renewing.Height() != Height()) &&
      (renewing.Release(), !renewing.Create(Width(), Height(), hostkit::PixelFormat::Rgba8, error)))
    return false;
  fresh = std::move(set);
  renewedFrames = 0;
  renewDissolve = std::max(1L, dissolveFrames);
  return true;
}

bool Decks::Frame(long frame, const Look& look, bool drawn) {
  if (!fresh) {
    if (!FrameSet(*current, frame, look, drawn)) return false;
    picture = current->picture;
  } else {
    // The fresh instances are drawn only once they show.
    const long dissolved = renewedFrames - kSettleFrames;
    const bool freshShows = drawn && dissolved >= 0;
    if (!FrameSet(*current, frame, look, drawn) || !FrameSet(*fresh, frame, look, freshShows)) return false;
    ++renewedFrames;
    if (dissolved + 1 >= renewDissolve) {  // the fresh ones alone from here: they take the old ones' place
      current = std::move(fresh);
      picture = current->picture;
    } else if (freshShows) {
      const float share = static_cast<float>(dissolved + 1) / static_cast<float>(renewDissolve);
      mixer.Blend(*current->picture, *fresh->picture, share, Blend::Dissolve, renewing);
      picture = &renewing;
    } else {
      picture = current->picture;
    }
  }
  if (drawn && look.level < 1.0f) dimmer.Apply(*picture, look.level);
  return true;
}

bool Decks::FrameSet(Set& set, long frame, const Look& look, bool drawn) {
  const float mix = two ? look.mix : 0.0f;
  for (int deck = 0; deck < (two ? 2 : 1); ++deck) {
    const std::vector<ParameterValue>& values = deck == 0 ? *look.first : *look.second;
    const bool shows = drawn && (deck == 0 ? mix < 1.0f : mix > 0.0f);
    if (!(shows ? set.decks[deck].Draw(frame, values) : set.decks[deck].Advance(frame, values))) return false;
  }
  if (!drawn) return true;
  if (mix <= 0.0f) {
    set.picture = &set.decks[0].Target();
  } else if (mix >= 1.0f) {
    set.picture = &set.decks[1].Target();
  } else {
    mixer.Blend(set.decks[0].Target(), set.decks[1].Target(), mix, look.blend, set.blended);
    set.picture = &set.blended;
  }
  return true;
}

}  // namespace tool
