// A PipeWire video consumer for the tests, as OBS's PipeWire source would be:
// an input stream linked to the node named on the command line (the test
// runs no session manager, so this program makes the link itself), which
// writes the first N frames it receives, as raw RGBA, to a file.
//
//   pipewire-grab NODE N FILE     prints "WIDTHxHEIGHT N"; exit 1 after 20 s
#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct Grab {
  pw_main_loop* loop = nullptr;
  pw_core* core = nullptr;
  pw_registry* registry = nullptr;
  pw_stream* stream = nullptr;
  spa_hook coreListener{}, registryListener{}, streamListener{};
  std::string target;
  uint32_t targetId = SPA_ID_INVALID;
  bool linked = false;
  long wanted = 0, got = 0;
  int width = 0, height = 0;
  FILE* out = nullptr;
  pw_proxy* link = nullptr;

  void LinkWhenBothExist() {
    const uint32_t ours = pw_stream_get_node_id(stream);
    if (linked || targetId == SPA_ID_INVALID || ours == SPA_ID_INVALID) return;
    pw_properties* properties = pw_properties_new(nullptr, nullptr);
    pw_properties_setf(properties, PW_KEY_LINK_OUTPUT_NODE, "%u", targetId);
    pw_properties_setf(properties, PW_KEY_LINK_INPUT_NODE, "%u", ours);
    link = static_cast<pw_proxy*>(
        pw_core_create_object(core, "link-factory", PW_TYPE_INTERFACE_Link, PW_VERSION_LINK, &properties->dict, 0));
    pw_properties_free(properties);
    linked = true;
  }
};

void OnGlobal(void* data, uint32_t id, uint32_t, const char* type, uint32_t, const spa_dict* props) {
  auto* grab = static_cast<Grab*>(data);
  if (std::strcmp(type, PW_TYPE_INTERFACE_Node) != 0 || !props) return;
  const char* name = spa_dict_lookup(props, PW_KEY_NODE_NAME);
  if (name && grab->target == name) grab->targetId = id;
  grab->LinkWhenBothExist();
}

void OnState(void* data, pw_stream_state, pw_stream_state, const char*) { static_cast<Grab*>(data)->LinkWhenBothExist(); }

void OnParam(void* data, uint32_t id, const spa_pod* param) {
  auto* grab = static_cast<Grab*>(data);
  if (id != SPA_PARAM_Format || !param) return;
  spa_video_info_raw info{};
  if (spa_format_video_raw_parse(param, &info) < 0) return;
  grab->width = static_cast<int>(info.size.width);
  grab->height = static_cast<int>(info.size.height);
}

void OnProcess(void* data) {
  auto* grab = static_cast<Grab*>(data);
  pw_buffer* buffer = pw_stream_dequeue_buffer(grab->stream);
  if (!buffer) return;
  const spa_data& plane = buffer->buffer->datas[0];
  const size_t size = static_cast<size_t>(grab->width) * static_cast<size_t>(grab->height) * 4;
  if (plane.data && plane.chunk->size >= size && grab->got < grab->wanted) {
    std::fwrite(static_cast<const uint8_t*>(plane.data) + plane.chunk->offset, 1, size, grab->out);
    if (++grab->got == grab->wanted) pw_main_loop_quit(grab->loop);
  }
  pw_stream_queue_buffer(grab->stream, buffer);
}

void OnTimeout(void* data, uint64_t) { pw_main_loop_quit(static_cast<Grab*>(data)->loop); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: pipewire-grab NODE N FILE\n");
    return 2;
  }
  pw_init(&argc, &argv);
  Grab grab;
  grab.target = argv[1];
  grab.wanted = std::atol(argv[2]);
  grab.out = std::fopen(argv[3], "wb");
  grab.loop = pw_main_loop_new(nullptr);
  pw_context* context = pw_context_new(pw_main_loop_get_loop(grab.loop), nullptr, 0);
  grab.core = pw_context_connect(context, nullptr, 0);
  if (!grab.core || !grab.out) {
    std::fprintf(stderr, "pipewire-grab: no daemon, or cannot write %s\n", argv[3]);
    return 1;
  }
  static const pw_registry_events registryEvents = {PW_VERSION_REGISTRY_EVENTS, OnGlobal, nullptr};
  grab.registry = pw_core_get_registry(grab.core, PW_VERSION_REGISTRY, 0);
  pw_registry_add_listener(grab.registry, &grab.registryListener, &registryEvents, &grab);

  pw_stream_events streamEvents{};
  streamEvents.version = PW_VERSION_STREAM_EVENTS;
  streamEvents.state_changed = OnState;
  streamEvents.param_changed = OnParam;
  streamEvents.process = OnProcess;
  grab.stream = pw_stream_new(grab.core, "tessarvander-test-grab",
                              pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                                                PW_KEY_NODE_NAME, "tessarvander-test-grab", nullptr));
  pw_stream_add_listener(grab.stream, &grab.streamListener, &streamEvents, &grab);
  uint8_t bytes[1024];
  spa_pod_builder builder = SPA_POD_BUILDER_INIT(bytes, sizeof bytes);
  const spa_rectangle smallest = SPA_RECTANGLE(1, 1), largest = SPA_RECTANGLE(8192, 8192), middle = SPA_RECTANGLE(160, 90);
  const spa_fraction slowest = SPA_FRACTION(0, 1), fastest = SPA_FRACTION(1000, 1), usual = SPA_FRACTION(60, 1);
  const spa_pod* format = static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
      SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
      SPA_POD_Id(SPA_VIDEO_FORMAT_RGBA), SPA_FORMAT_VIDEO_size,
      SPA_POD_CHOICE_RANGE_Rectangle(&middle, &smallest, &largest), SPA_FORMAT_VIDEO_framerate,
      SPA_POD_CHOICE_RANGE_Fraction(&usual, &slowest, &fastest)));
  pw_stream_connect(grab.stream, PW_DIRECTION_INPUT, PW_ID_ANY, PW_STREAM_FLAG_MAP_BUFFERS, &format, 1);

  spa_source* timer = pw_loop_add_timer(pw_main_loop_get_loop(grab.loop), OnTimeout, &grab);
  timespec twenty{20, 0};
  pw_loop_update_timer(pw_main_loop_get_loop(grab.loop), timer, &twenty, nullptr, false);
  pw_main_loop_run(grab.loop);

  std::fclose(grab.out);
  std::printf("%dx%d %ld\n", grab.width, grab.height, grab.got);
  if (grab.link) pw_proxy_destroy(grab.link);
  pw_stream_destroy(grab.stream);
  pw_proxy_destroy(reinterpret_cast<pw_proxy*>(grab.registry));
  pw_core_disconnect(grab.core);
  pw_context_destroy(context);
  pw_main_loop_destroy(grab.loop);
  return grab.got == grab.wanted ? 0 : 1;
}
