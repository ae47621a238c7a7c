// Loads the GL entry points beyond 1.1 through GLEW, once per process, at the
// first instance creation (a GL context is current then).
#pragma once

// True when the entry points are loaded. The first call runs glewInit; its
// answer is final for the life of the process, and later calls only repeat it.
bool LoadGLEntryPointsOnce();
