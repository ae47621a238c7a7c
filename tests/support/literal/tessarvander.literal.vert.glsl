#version 410 core

// A pass-through stage for the full-screen quad: clip-space positions in,
// the quad's texture coordinate out.

layout(location = 0) in vec4 vPosition;
layout(location = 1) in vec2 vUV;

out vec2 uv;

void main()
{
    uv = vUV;
    gl_Position = vPosition;
}
