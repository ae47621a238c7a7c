// Loads the GL entry points beyond 1.1 through GLEW, once per process, at the
// first instance creation that has a GL context current.
#pragma once

// True when the entry points are loaded. Without a current GL context it
// answers false and leaves everything as it was: that is the host's mistake
// of the moment, and a later call with a context loads them. Otherwise the
// first call runs glewInit; its answer is final for the life of the process,
// and later calls only repeat it. Safe to call from several threads at once:
// the others wait for the one that runs glewInit.
bool LoadGLEntryPointsOnce();
