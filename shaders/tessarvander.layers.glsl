#version 410 core

// The per-layer table, once a frame. One vertex a layer (gl_VertexID), drawn
// with the rasterizer off and captured by transform feedback into the buffer
// that the fragment stage reads as a uniform block: everything that is the
// same for all pixels of a layer, computed here once by the same functions
// that the single-stage formulation ran for every pixel, so the picture
// stays the same to the bit. The table costs the drawing stages no outputs
// or inputs: they stay far within what OpenGL 4.1 guarantees (64 vertex
// output components) on every GPU.

flat out vec4 tableView;    // layerViewOf: zoom, seed, cos and sin of its turn
flat out vec4 tableKernel;  // kernelValuesOf, for the kernel drawn
flat out vec4 tableColour;  // the layer's palette colour (not Rainbow Radial's), and its phase

void main()
{
    int layer = gl_VertexID;
    int numLayers = layerCount();
    bool drawn = layer < clamp(numLayers, 0, MAX_LAYERS);
    vec4 view = drawn ? layerViewOf(layer, numLayers) : vec4(0.0);
    float phase = drawn ? layerPhase(layer, numLayers) : 0.0;
    tableView = view;
    tableKernel = drawn ? kernelValuesOf(kernelType(), view.y) : vec4(0.0);
    tableColour = vec4(drawn ? layerPaletteColour(phase, view.y) : vec3(0.0), phase);
    gl_Position = vec4(0.0);
}
