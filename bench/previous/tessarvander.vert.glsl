#version 410 core

// The full-screen quad: clip-space positions in, the quad's texture
// coordinate out. And every value that is the same for all pixels of a
// frame or of a layer, computed here once per vertex rather than once per
// pixel and handed on flat: the same arithmetic on the same values, so the
// fragment stage draws the same picture for less work.

layout(location = 0) in vec4 vPosition;
layout(location = 1) in vec2 vUV;

out vec2 uv;
flat out vec4 frameView;               // view turn (cos, sin), pulse scale, sin of the ferrofluid's breathing
flat out vec3 frameManualColor;        // the Manual palette's one colour
flat out vec4 layerView[MAX_LAYERS];   // layerViewOf, for each layer drawn
flat out vec4 layerKernel[MAX_LAYERS]; // kernelValuesOf, for each layer drawn

void main()
{
    uv = vUV;
    gl_Position = vPosition;

    float viewAngle = rotation * TAU + travelTime() * 0.05;
    float pulse = 1.0 + pulseAmount * 0.3 * sin(time * pulseSpeed * TAU);
    frameView = vec4(cos(viewAngle), sin(viewAngle), pulse, sin(time * 0.5));
    frameManualColor = hsv2rgb(vec3(manualHue, saturation, 1.0));

    // The layers are pushed in at the back one by one and the rest filled
    // with zeros, so that every array access has a constant index: the
    // loops stay loops, and the stage stays small to compile.
    int numLayers = layerCount();
    int kernel = kernelType();
    int drawn = clamp(numLayers, 0, MAX_LAYERS);
    vec4 views[MAX_LAYERS];
    vec4 kernels[MAX_LAYERS];
    for (int layer = 0; layer < MAX_LAYERS; layer++) {
        views[layer] = vec4(0.0);
        kernels[layer] = vec4(0.0);
    }
    // max(): always MAX_LAYERS, in a form the compiler does not unroll.
    for (int push = 0; push < max(drawn, MAX_LAYERS); push++) {
        for (int slot = 1; slot < MAX_LAYERS; slot++) {
            views[slot - 1] = views[slot];
            kernels[slot - 1] = kernels[slot];
        }
        vec4 view = push < drawn ? layerViewOf(push, numLayers) : vec4(0.0);
        views[MAX_LAYERS - 1] = view;
        kernels[MAX_LAYERS - 1] = push < drawn ? kernelValuesOf(kernel, view.y) : vec4(0.0);
    }
    layerView = views;
    layerKernel = kernels;
}
