// A stand-in plugin that answers only the information code, with the API
// version and plugin type it was compiled with: for testing how the host
// refuses plugins it cannot use.
#include <cstdint>
#include <cstring>

namespace {

struct InfoRecord {
  uint32_t apiMajor;
  uint32_t apiMinor;
  char id[4];
  char name[16];
  uint32_t type;
};

InfoRecord info = {FAKE_API_MAJOR, 0, {'F', 'A', 'K', 'E'}, {'F', 'a', 'k', 'e'}, FAKE_PLUGIN_TYPE};

}  // namespace

extern "C" __attribute__((visibility("default"))) uint64_t plugMain(uint32_t code, uint64_t, void*) {
  if (code == 0) return reinterpret_cast<uintptr_t>(&info);
  return 0xFFFFFFFF;
}
