#version 410 core

// The full-screen quad: clip-space positions in, the quad's texture
// coordinate out, and the view's turn and pulse, the same for all pixels of
// a frame, computed here once and handed on flat. What is the same for all
// pixels of a layer comes from the per-layer table (tessarvander.layers.glsl).

layout(location = 0) in vec4 vPosition;
layout(location = 1) in vec2 vUV;

out vec2 uv;
flat out vec4 frameView;  // view turn (cos, sin), pulse scale, sin of the ferrofluid's breathing

void main()
{
    uv = vUV;
    gl_Position = vPosition;

    float viewAngle = rotation * TAU + travelTime() * 0.05;
    float pulse = 1.0 + pulseAmount * 0.3 * sin(time * pulseSpeed * TAU);
    frameView = vec4(cos(viewAngle), sin(viewAngle), pulse, sin(time * 0.5));
}
