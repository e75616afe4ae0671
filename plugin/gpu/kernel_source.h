// The OpenCL C source of the kernels (kernels.cl), embedded at build time as one zero-terminated
// string.
#pragma once

namespace lumet::gpu {
extern const char kEmbeddedKernelSource[];
}
