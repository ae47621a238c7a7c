#include "player/PipeWireOutput.h"

#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>

namespace tool {

// PipeWire's objects, the frame waiting to be sent, and what the stream's
// thread reports back.
struct PipeWireOutput::Stream {
  pw_thread_loop* loop = nullptr;
  pw_context* context = nullptr;
  pw_core* core = nullptr;
  pw_stream* stream = nullptr;
  spa_hook listener{};
  int width = 0, height = 0;
  std::atomic<bool> streaming{false};
  std::mutex pendingLock;
  std::vector<uint8_t> pending;  // bottom row first

  ~Stream() {
    if (loop) pw_thread_loop_stop(loop);
    if (stream) pw_stream_destroy(stream);
    if (core) pw_core_disconnect(core);
    if (context) pw_context_destroy(context);
    if (loop) pw_thread_loop_destroy(loop);
  }

  static void OnStateChanged(void* data, pw_stream_state, pw_stream_state state, const char*) {
    static_cast<Stream*>(data)->streaming = state == PW_STREAM_STATE_STREAMING;
  }

  // The format is agreed: buffers of whole frames.
  static void OnParamChanged(void* data, uint32_t id, const spa_pod* param) {
    auto* self = static_cast<Stream*>(data);
    if (id != SPA_PARAM_Format || !param) return;
    uint8_t bytes[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(bytes, sizeof bytes);
    const int stride = self->width * 4;
    const spa_pod* buffers = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
        SPA_POD_CHOICE_RANGE_Int(4, 2, 8), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1), SPA_PARAM_BUFFERS_size,
        SPA_POD_Int(stride * self->height), SPA_PARAM_BUFFERS_stride, SPA_POD_Int(stride)));
    pw_stream_update_params(self->stream, &buffers, 1);
  }

  // A cycle of the graph: the newest frame into a free buffer, top row
  // first as video is.
  static void OnProcess(void* data) {
    auto* self = static_cast<Stream*>(data);
    pw_buffer* buffer = pw_stream_dequeue_buffer(self->stream);
    if (!buffer) return;
    spa_data& plane = buffer->buffer->datas[0];
    const size_t stride = static_cast<size_t>(self->width) * 4;
    const size_t size = stride * static_cast<size_t>(self->height);
    if (plane.data && plane.maxsize >= size) {
      std::lock_guard<std::mutex> hold(self->pendingLock);
      if (self->pending.size() == size)
        for (int row = 0; row < self->height; ++row)
          std::memcpy(static_cast<uint8_t*>(plane.data) + static_cast<size_t>(row) * stride,
                      self->pending.data() + static_cast<size_t>(self->height - 1 - row) * stride, stride);
      plane.chunk->offset = 0;
      plane.chunk->size = static_cast<uint32_t>(size);
      plane.chunk->stride = static_cast<int32_t>(stride);
    }
    pw_stream_queue_buffer(self->stream, buffer);
  }
};

namespace {

const pw_stream_events kStreamEvents = [] {
  pw_stream_events events{};
  events.version = PW_VERSION_STREAM_EVENTS;
  events.state_changed = PipeWireOutput::Stream::OnStateChanged;
  events.param_changed = PipeWireOutput::Stream::OnParamChanged;
  events.process = PipeWireOutput::Stream::OnProcess;
  return events;
}();

}  // namespace

PipeWireOutput::PipeWireOutput() = default;
PipeWireOutput::~PipeWireOutput() = default;

bool PipeWireOutput::Start(const std::string& name, int frameWidth, int frameHeight, double framesPerSecond,
                           std::string& error) {
  pw_init(nullptr, nullptr);
  stream = std::make_unique<Stream>();
  Stream& s = *stream;
  width = s.width = frameWidth;
  height = s.height = frameHeight;
  s.loop = pw_thread_loop_new("tessarvander-pipewire", nullptr);
  s.context = s.loop ? pw_context_new(pw_thread_loop_get_loop(s.loop), nullptr, 0) : nullptr;
  s.core = s.context ? pw_context_connect(s.context, nullptr, 0) : nullptr;
  if (!s.core) {
    error = "PipeWire: no daemon to publish the video to (is pipewire running for this user?)";
    stream.reset();
    return false;
  }
  pw_properties* properties =
      pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Source", PW_KEY_MEDIA_CLASS,
                        "Video/Source", PW_KEY_NODE_NAME, name.c_str(), PW_KEY_NODE_DESCRIPTION, "Tessarvander",
                        nullptr);
  s.stream = pw_stream_new(s.core, name.c_str(), properties);
  if (!s.stream) {
    error = "PipeWire: cannot make a video stream";
    stream.reset();
    return false;
  }
  pw_stream_add_listener(s.stream, &s.listener, &kStreamEvents, &s);
  uint8_t bytes[1024];
  spa_pod_builder builder = SPA_POD_BUILDER_INIT(bytes, sizeof bytes);
  const spa_rectangle size = SPA_RECTANGLE(static_cast<uint32_t>(frameWidth), static_cast<uint32_t>(frameHeight));
  const spa_fraction rate = SPA_FRACTION(static_cast<uint32_t>(std::lround(framesPerSecond)), 1);
  const spa_pod* format = static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
      SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
      SPA_POD_Id(SPA_VIDEO_FORMAT_RGBA), SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&size),
      SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&rate)));
  // A driver: each frame the player sends starts a cycle of the graph.
  const int connected =
      pw_stream_connect(s.stream, PW_DIRECTION_OUTPUT, PW_ID_ANY,
                        static_cast<pw_stream_flags>(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS), &format, 1);
  if (connected < 0 || pw_thread_loop_start(s.loop) < 0) {
    error = std::string("PipeWire: cannot publish the stream: ") + strerror(-connected);
    stream.reset();
    return false;
  }
  return true;
}

bool PipeWireOutput::Streaming() const { return stream && stream->streaming; }

void PipeWireOutput::Send(const std::vector<uint8_t>& rgba) {
  if (!Streaming()) return;
  {
    std::lock_guard<std::mutex> hold(stream->pendingLock);
    stream->pending = rgba;
  }
  pw_thread_loop_lock(stream->loop);
  pw_stream_trigger_process(stream->stream);
  pw_thread_loop_unlock(stream->loop);
}

void PipeWireOutput::SendPicture(const hostkit::FrameTarget& picture, bool fresh) {
  if (!Streaming() || picture.Width() != width || picture.Height() != height) return;
  if (fresh || lastPicture.empty()) lastPicture = picture.ReadRgba8();
  Send(lastPicture);
}

}  // namespace tool
