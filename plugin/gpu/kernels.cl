// Lumet OpenCL kernels. Each kernel computes what the CPU form of its stage computes with the same
// operations in the same order, so that a frame is the same whichever device rendered it: no
// contraction into fused multiply-adds (the pragma below), no relaxed math in the build options,
// and correctly rounded division and square root where the device offers them. Planes are
// row-major (index y * W + x) with rows back to back; normals are three interleaved floats per
// pixel; alpha is one byte per pixel. The build puts core/stage_constants.h and
// core/pixel_formulas.h in front of this file: the named constants, the per-frame structs and the
// per-pixel formulas the CPU stages share come from there.
#pragma OPENCL FP_CONTRACT OFF

// ---------------------------------------------------------------------------------------------
// Helpers

// Catmull-Rom cubic through p1 (t = 0) and p2 (t = 1).
float mf_catmullRom(float p0, float p1, float p2, float p3, float t) {
    return 0.5f * (2.0f * p1 + (p2 - p0) * t + (2.0f * p0 - 5.0f * p1 + 4.0f * p2 - p3) * t * t +
                   (3.0f * p1 - p0 - 3.0f * p2 + p3) * t * t * t);
}

// Catmull-Rom sample of one environment plane, wrapping in u and clamping v to [0, 1].
float mf_sampleBicubic(global const float* plane, int w, int h, float u, float v) {
    float fu = isfinite(u) ? u - floor(u) : 0.0f;
    float fx = fu * (float)(w - 1);
    int ix = (int)fx;
    float tx = fx - (float)ix;
    int c0 = (ix - 1) % w;
    if (c0 < 0) c0 += w;
    int c1 = ix % w;
    int c2 = (ix + 1) % w;
    int c3 = (ix + 2) % w;
    float fy = (isfinite(v) ? pixelClamp(v, 0.0f, 1.0f) : 0.0f) * (float)(h - 1);
    int iy = (int)fy;
    float ty = fy - (float)iy;
    float rows[4];
    for (int k = 0; k < 4; ++k) {
        int yy = clamp(iy - 1 + k, 0, h - 1);
        global const float* row = plane + (size_t)yy * (size_t)w;
        rows[k] = mf_catmullRom(row[c0], row[c1], row[c2], row[c3], tx);
    }
    return mf_catmullRom(rows[0], rows[1], rows[2], rows[3], ty);
}

// Bilinear sample of one environment plane, wrapping in u and clamping v; u is in [0, 1], and
// 1.0 (what u - floor(u) gives for a tiny negative u) is column 0, as in the bicubic sample.
float mf_sampleBilinear(global const float* plane, int w, int h, float u, float v) {
    if (u >= 1.0f) u -= 1.0f;
    float fx = (float)(w - 1) * u;
    int ix = (int)fx;
    float tx = fx - (float)ix;
    int ix1 = (ix + 1) % w;
    float fy = (float)(h - 1) * pixelClamp(v, 0.0f, 1.0f);
    int iy = (int)fy;
    float ty = fy - (float)iy;
    size_t row0 = (size_t)max(iy, 0) * (size_t)w;
    size_t row1 = (size_t)min(iy + 1, h - 1) * (size_t)w;
    float w00 = (1.0f - tx) * (1.0f - ty), w10 = tx * (1.0f - ty);
    float w01 = (1.0f - tx) * ty, w11 = tx * ty;
    return plane[row0 + ix] * w00 + plane[row0 + ix1] * w10 + plane[row1 + ix] * w01 +
           plane[row1 + ix1] * w11;
}

// Rows that hold content: flags[y] is 1 when, among the columns first, first + step, ... below
// last of row y, a pixel has an alpha of at least alphaMin or (with heightTest) a height above
// heightAbove; else 0. The reflection and the shading skip the other rows as their CPU forms
// do. One work item per row.
kernel void content_rows(global const uchar* alpha, global const float* heightMap,
                         global uchar* flags, int W, int H, int first, int step, int last,
                         int alphaMin, int heightTest, float heightAbove) {
    int y = get_global_id(0);
    if (y >= H) return;
    size_t row = (size_t)y * (size_t)W;
    uchar any = 0;
    for (int x = first; x < last && !any; x += step)
        any = alpha[row + x] >= alphaMin || (heightTest && heightMap[row + x] > heightAbove);
    flags[y] = any;
}

// ---------------------------------------------------------------------------------------------
// Environment reflection, one work item per pixel of a window (W x H) whose corner lies at
// (originX, originY) of a frameW x frameH frame, on whose centre the projection is centred, through
// the CPU stage's lookup (whose anisotropic streaks take the device's cosine, so the renders keep
// anisotropic frames on the CPU) and its blend; the samplers read the map's planes. rows holds
// content_rows' flags for the frame's even columns: a row without surface there is black, as on
// the CPU.

kernel void env_reflection(global const float* normalMap, global const uchar* alpha,
                           global const float* heightMap, global const uchar* rows,
                           global float* outR, global float* outG, global float* outB,
                           global const float* sharpR, global const float* sharpG,
                           global const float* sharpB, global const float* smoothR,
                           global const float* smoothG, global const float* smoothB, int W, int H,
                           int originX, int originY, int frameW, int frameH, int envW, int envH,
                           ReflectionConstants k) {
    int x = get_global_id(0);
    int y = get_global_id(1);
    if (x >= W || y >= H) return;
    size_t i = (size_t)y * (size_t)W + (size_t)x;
    outR[i] = 0.0f;
    outG[i] = 0.0f;
    outB[i] = 0.0f;
    if (!rows[y] || !(alpha[i] >= kSurfaceAlpha || heightMap[i] >= kRaisedHeight)) return;

    float fx = (float)(x + originX), fy = (float)(y + originY);
    float uv[2];
    float s = reflectionLookup(&k, fx, fy, reflectionCentred(&k, fx, (float)frameW),
                               reflectionCentred(&k, fy, (float)frameH), normalMap[3 * i],
                               normalMap[3 * i + 1], uv);
    float u = uv[0], v = uv[1];
    float sR = mf_sampleBicubic(sharpR, envW, envH, u, v);
    float sG = mf_sampleBicubic(sharpG, envW, envH, u, v);
    float sB = mf_sampleBicubic(sharpB, envW, envH, u, v);
    if (k.dispersionOn) {
        sR = mf_sampleBicubic(sharpR, envW, envH, reflectionRedU(&k, u), v);
        sB = mf_sampleBicubic(sharpB, envW, envH, reflectionBlueU(&k, u), v);
    }
    outR[i] = pixelLerp(sR, mf_sampleBilinear(smoothR, envW, envH, u, v), s);
    outG[i] = pixelLerp(sG, mf_sampleBilinear(smoothG, envW, envH, u, v), s);
    outB[i] = pixelLerp(sB, mf_sampleBilinear(smoothB, envW, envH, u, v), s);
}

// ---------------------------------------------------------------------------------------------
// Surface shading at the working size, one work item per pixel, through the CPU stage's formula.
// Outside the window left .. right x top .. bottom and on rows that content_rows did not flag (no
// coverage, nor with outerStyle a raised pixel, inside the columns) the output is 0.

kernel void shade_pixel(global const uchar* alpha, global const float* heightMap,
                        global const float* normalMap, global const float* envR,
                        global const float* envG, global const float* envB,
                        global const uchar* rows, global float* outR, global float* outG,
                        global float* outB, global const ShadeParams* k, int W, int H, int left,
                        int right, int top, int bottom) {
    int x = get_global_id(0);
    int y = get_global_id(1);
    if (x >= W || y >= H) return;
    size_t i = (size_t)y * (size_t)W + (size_t)x;
    outR[i] = 0.0f;
    outG[i] = 0.0f;
    outB[i] = 0.0f;
    if (x < left || x >= right || y < top || y >= bottom || !rows[y]) return;
    // The Laplacian where all four neighbours exist, else 0.
    int interior = x >= 1 && x < W - 1 && y >= 1 && y < H - 1;
    float lap = interior ? shadeLaplacian(heightMap[i - 1], heightMap[i + 1], heightMap[i - W],
                                          heightMap[i + W], heightMap[i])
                         : 0.0f;
    float env[3] = {envR[i], envG[i], envB[i]};
    float n[3] = {normalMap[3 * i], normalMap[3 * i + 1], normalMap[3 * i + 2]};
    float rgb[3];
    shadeCoveredPixel(k, (float)alpha[i], env, heightMap[i], n, shadeHighlightPower(k, n), lap,
                      rgb);
    outR[i] = rgb[0];
    outG[i] = rgb[1];
    outB[i] = rgb[2];
}

// ---------------------------------------------------------------------------------------------
// Glow source: the CPU's extraction (glowWeight, glowExtracted). One work item per pixel.

kernel void glow_extract(global const float* imgR, global const float* imgG,
                         global const float* imgB, global const uchar* alpha, global float* glowR,
                         global float* glowG, global float* glowB, global float* glowA, int total) {
    int i = get_global_id(0);
    if (i >= total) return;
    float s = glowWeight(imgR[i], imgG[i], imgB[i]);
    glowR[i] = glowExtracted(imgR[i] * s, alpha[i]);
    glowG[i] = glowExtracted(imgG[i] * s, alpha[i]);
    glowB[i] = glowExtracted(imgB[i] * s, alpha[i]);
    glowA[i] = glowExtracted(s, alpha[i]);
}

// The glow's two scales are summed with their weights: dst = 0 + weight x src on the first scale
// (first = 1), dst += weight x src on the second. One work item per pixel.
kernel void glow_accumulate(global const float* src, global float* dst, int total, float weight,
                            int first) {
    int i = get_global_id(0);
    if (i >= total) return;
    float part = weight * src[i];
    dst[i] = (first ? 0.0f : dst[i]) + part;
}

// The glow's tone compression: the square root of every channel, coverage capped at 1.
kernel void glow_compress(global float* glowR, global float* glowG, global float* glowB,
                          global float* glowA, int total) {
    int i = get_global_id(0);
    if (i >= total) return;
    glowR[i] = sqrt(pixelMax(glowR[i], 0.0f));
    glowG[i] = sqrt(pixelMax(glowG[i], 0.0f));
    glowB[i] = sqrt(pixelMax(glowB[i], 0.0f));
    glowA[i] = pixelMin(1.0f, sqrt(pixelMax(glowA[i], 0.0f)));
}

// ---------------------------------------------------------------------------------------------
// Box filter of radius r plus fraction f with clamped edges: the 2r + 1 centre taps weigh 1, the
// two taps just outside weigh f. One line of n samples, stride apart, its running sum exact in
// grid steps (columnSteps) as the CPU keeps it in either direction, so that both give a line's
// floats wherever a pass starts.
void mf_exactLine(global const float* line, global float* out, size_t stride, int n, int r,
                  float frac) {
    if (r < 1 && frac < 0.001f) {
        for (int x = 0; x < n; ++x) out[x * stride] = line[x * stride];
        return;
    }
    float invSize = 1.0f / (2.0f * (float)r + 1.0f + 2.0f * frac);
    int withFraction = frac != 0.0f;
    int last = n - 1;
    long sum = 0;
    for (int i = -r; i <= r; ++i) sum += (long)columnSteps(line[clamp(i, 0, last) * stride]);
    for (int x = 0; x < n; ++x) {
        if (x > 0)
            sum += (long)columnSteps(line[min(x + r, last) * stride]) -
                   (long)columnSteps(line[max(x - r - 1, 0) * stride]);
        out[x * stride] = columnOutput((float)sum, line[max(x - r - 1, 0) * stride],
                                       line[min(x + r + 1, last) * stride], frac, invSize,
                                       withFraction);
    }
}

// Horizontal pass: one work item per row.
kernel void blur_h(global const float* src, global float* dst, int W, int H, int iRadius,
                   float frac) {
    int y = get_global_id(0);
    if (y >= H) return;
    size_t row = (size_t)y * (size_t)W;
    mf_exactLine(src + row, dst + row, 1, W, iRadius, frac);
}

// Vertical pass: one work item per column.
kernel void blur_v(global const float* src, global float* dst, int W, int H, int iRadius,
                   float frac) {
    int x = get_global_id(0);
    if (x >= W) return;
    mf_exactLine(src + x, dst + x, (size_t)W, H, iRadius, frac);
}

// Horizontal box filter for environment maps, which are periodic in x: the window wraps around
// the row instead of clamping. One work item per row. Not dispatched: the maps are prepared on
// the CPU.
kernel void env_blur_h(global const float* src, global float* dst, int W, int H, int iRadius,
                       float frac) {
    int y = get_global_id(0);
    if (y >= H) return;
    global const float* in = src + (size_t)y * (size_t)W;
    global float* out = dst + (size_t)y * (size_t)W;
    int r = max(iRadius, 0);
    float f = clamp(frac, 0.0f, 1.0f);
    float invSize = 1.0f / (2.0f * (float)r + 1.0f + 2.0f * f);
    for (int x = 0; x < W; ++x) {
        float sum = 0.0f;
        for (int k = -r; k <= r; ++k) {
            int sx = (x + k) % W;
            sum += in[sx < 0 ? sx + W : sx];
        }
        int left = (x - r - 1) % W;
        int right = (x + r + 1) % W;
        sum += f * (in[left < 0 ? left + W : left] + in[right]);
        out[x] = sum * invSize;
    }
}

// ---------------------------------------------------------------------------------------------
// 2 x 2 box reduction: dst(x, y) is the mean of src at columns sx, sx + 1 and rows sy, sy + 1,
// with sx = 2x (srcW - 2 when 2x + 1 is past the edge) and sy likewise. 2-D over the destination.

kernel void downsample_2x(global const float* src, global float* dst, int srcW, int srcH, int dstW,
                          int dstH) {
    int x = get_global_id(0);
    int y = get_global_id(1);
    if (x >= dstW || y >= dstH) return;
    int sx = 2 * x;
    if (sx + 1 >= srcW) sx = srcW - 2;
    int sy = 2 * y;
    if (sy + 1 >= srcH) sy = srcH - 2;
    int sx1 = sx + 1, sy1 = sy + 1;
    if (sx < 0) sx = 0;  // a source one pixel wide or high repeats its only column or row
    if (sy < 0) sy = 0;
    sx1 = min(sx1, srcW - 1);
    sy1 = min(sy1, srcH - 1);
    size_t r0 = (size_t)sy * (size_t)srcW, r1 = (size_t)sy1 * (size_t)srcW;
    dst[(size_t)y * (size_t)dstW + x] =
        0.25f * (src[r0 + sx] + src[r0 + sx1] + src[r1 + sx] + src[r1 + sx1]);  // matched to CPU
}

// Bilinear enlargement of src (srcW x srcH) to dst's size, added into dst with a weight. 2-D over
// the destination. Not dispatched.
kernel void upsample_blend(global const float* src, global float* dst, int srcW, int srcH, int dstW,
                           int dstH, float weight) {
    int x = get_global_id(0);
    int y = get_global_id(1);
    if (x >= dstW || y >= dstH) return;
    // Pixel centres map onto pixel centres.
    float fx = clamp(((float)x + 0.5f) * (float)srcW / (float)dstW - 0.5f, 0.0f, (float)(srcW - 1));
    float fy = clamp(((float)y + 0.5f) * (float)srcH / (float)dstH - 0.5f, 0.0f, (float)(srcH - 1));
    int x0 = (int)fx, y0 = (int)fy;
    int x1 = min(x0 + 1, srcW - 1), y1 = min(y0 + 1, srcH - 1);
    float tx = fx - (float)x0, ty = fy - (float)y0;
    size_t r0 = (size_t)y0 * (size_t)srcW, r1 = (size_t)y1 * (size_t)srcW;
    float top = pixelLerp(src[r0 + x0], src[r0 + x1], tx);
    float bottom = pixelLerp(src[r1 + x0], src[r1 + x1], tx);
    dst[(size_t)y * (size_t)dstW + x] += weight * pixelLerp(top, bottom, ty);
}

// ---------------------------------------------------------------------------------------------
// Surface normals from the height map, in the CPU stage's two passes: normal_rows filters each row
// with the 9 derivative and the 9 smoothing taps (clamped at the edges), compute_normals filters
// the columns of those two planes the other way round and turns the slopes into the CPU's unit
// normal (surfaceNormal). taps holds the 9 smoothing then the 9 derivative taps the CPU computes.
// One work item per pixel.

kernel void normal_rows(global const float* heightMap, constant float* taps, global float* derivX,
                        global float* smoothX, int W, int H) {
    int x = get_global_id(0);
    int y = get_global_id(1);
    if (x >= W || y >= H) return;
    global const float* h = heightMap + (size_t)y * (size_t)W;
    float sumD = 0.0f, sumG = 0.0f;
    for (int k = -4; k <= 4; ++k) {
        float v = h[min(max(x + k, 0), W - 1)];
        sumD += v * taps[9 + k + 4];
        sumG += v * taps[k + 4];
    }
    size_t i = (size_t)y * (size_t)W + (size_t)x;
    derivX[i] = sumD;
    smoothX[i] = sumG;
}

kernel void compute_normals(global const float* heightMap, global const uchar* alpha,
                            global const float* derivX, global const float* smoothX,
                            constant float* taps, global float* normalMap, int W, int H,
                            float bevelStr) {
    int x = get_global_id(0);
    int y = get_global_id(1);
    if (x >= W || y >= H) return;
    size_t i = (size_t)y * (size_t)W + (size_t)x;
    float gx = 0.0f, gy = 0.0f;
    for (int k = 0; k < 9; ++k) {
        size_t row = (size_t)min(max(y + k - 4, 0), H - 1) * (size_t)W + (size_t)x;
        gx += derivX[row] * taps[k];
        gy += smoothX[row] * taps[9 + k];
    }
    float n[3];
    surfaceNormal(gx, gy, bevelStr, heightMap[i], alpha[i], n);
    normalMap[3 * i] = n[0];
    normalMap[3 * i + 1] = n[1];
    normalMap[3 * i + 2] = n[2];
}

// ---------------------------------------------------------------------------------------------
// Exact Euclidean distance transform (lower envelope of parabolas, Felzenszwalb and Huttenlocher,
// in the integer form of Meijster et al.). Inside means alpha >= 128; the distance is to the
// nearest pixel below 128.

// Column pass, one work item per column: g = vertical distance to the nearest background pixel
// of the column (a column without one counts up from width + height).
kernel void edt_phase1(global const uchar* alpha, global int* g, int W, int H) {
    int x = get_global_id(0);
    if (x >= W) return;
    int inf = W + H;
    g[x] = alpha[x] >= 128 ? inf : 0;
    for (int y = 1; y < H; ++y) {
        size_t i = (size_t)y * (size_t)W + (size_t)x;
        g[i] = alpha[i] >= 128 ? g[i - (size_t)W] + 1 : 0;
    }
    for (int y = H - 2; y >= 0; --y) {
        size_t i = (size_t)y * (size_t)W + (size_t)x;
        int below = g[i + (size_t)W] + 1;
        if (below < g[i]) g[i] = below;
    }
}

// The last column at which the parabola of column i is at least as close as that of column u
// (i < u), with floor division; 64-bit, since g reaches width + 2 x height.
long mf_separator(long i, long u, long gi, long gu) {
    long numerator = u * u - i * i + gu * gu - gi * gi;
    long denominator = 2 * (u - i);
    long quotient = numerator / denominator;
    if ((numerator % denominator != 0) && (numerator < 0)) quotient -= 1;  // floor
    return quotient;
}

// Row pass, one work item per row; each row owns maxStack entries of both stacks. s holds the
// columns whose parabolas form the lower envelope, t the first column each of them owns.
kernel void edt_phase2(global const int* g, global float* dist, global int* stack_s,
                       global int* stack_t, int W, int H, int maxStack) {
    int y = get_global_id(0);
    if (y >= H) return;
    global const int* gr = g + (size_t)y * (size_t)W;
    global float* out = dist + (size_t)y * (size_t)W;
    global int* s = stack_s + (size_t)y * (size_t)maxStack;
    global int* t = stack_t + (size_t)y * (size_t)maxStack;
    int q = 0;
    s[0] = 0;
    t[0] = 0;
    for (int u = 1; u < W; ++u) {
        for (;;) {
            long sep = mf_separator(s[q], u, gr[s[q]], gr[u]);
            if (sep >= t[q]) {
                // Column u takes over from sep + 1 on, unless that lies past the row's end.
                if (sep + 1 < W && q + 1 < maxStack) {
                    ++q;
                    s[q] = u;
                    t[q] = (int)(sep + 1);
                }
                break;
            }
            if (--q < 0) {
                q = 0;
                s[0] = u;
                t[0] = 0;
                break;
            }
        }
    }
    for (int u = W - 1; u >= 0; --u) {
        long dx = u - s[q];
        long dy = gr[s[q]];
        out[u] = sqrt((float)(dx * dx + dy * dy));
        if (q > 0 && u <= t[q]) --q;
    }
}

// ---------------------------------------------------------------------------------------------
// Smart-edge kernels. Not dispatched: the smart edge runs on the CPU.

// Sobel magnitude of the three colour planes (the largest of the three) where alpha >= 10, away
// from the outermost rows and columns; 0 elsewhere. 2-D over the plane.
kernel void sobel_edge(global const float* r2x, global const float* g2x, global const float* b2x,
                       global const uchar* alpha, global float* edgeMap, int W, int H) {
    int x = get_global_id(0);
    int y = get_global_id(1);
    if (x >= W || y >= H) return;
    size_t i = (size_t)y * (size_t)W + (size_t)x;
    edgeMap[i] = 0.0f;
    if (x < 1 || y < 1 || x >= W - 1 || y >= H - 1 || alpha[i] < kSurfaceAlpha) return;
    global const float* planes[3] = {r2x, g2x, b2x};
    float best = 0.0f;
    for (int c = 0; c < 3; ++c) {
        global const float* p = planes[c];
        size_t up = i - (size_t)W, down = i + (size_t)W;
        float tl = p[up - 1], tc = p[up], tr = p[up + 1];
        float ml = p[i - 1], mr = p[i + 1];
        float bl = p[down - 1], bc = p[down], br = p[down + 1];
        float gx = (-tl - 2.0f * ml - bl) + (tr + 2.0f * mr + br);
        float gy = (-tl - 2.0f * tc - tr) + (bl + 2.0f * bc + br);
        best = fmax(best, sqrt(gx * gx + gy * gy));
    }
    edgeMap[i] = best;
}

// Carves grooves along the (normalised) edges: the height is reduced by up to 85 %.
kernel void carve_heightmap(global const float* edgeMap, global const uchar* alpha,
                            global float* heightMap, int W, int H, float edgeStrength) {
    int x = get_global_id(0);
    int y = get_global_id(1);
    if (x >= W || y >= H) return;
    size_t i = (size_t)y * (size_t)W + (size_t)x;
    float e = edgeMap[i];
    if (alpha[i] < kSurfaceAlpha || e <= kEdgeCarveMin) return;
    float v = fmin(1.0f, e * edgeStrength);
    v = v * v * (3.0f - 2.0f * v);
    v = fmin(kEdgeCarveMax, v);
    heightMap[i] *= 1.0f - v;
}

// Partial maxima: work item k writes the largest of data[k], data[k + n], data[k + 2n], ... with
// n the number of work items (0 when it has none). Run again on the partial results with one
// work item for the overall maximum.
kernel void reduce_max(global const float* data, global float* out, int count) {
    int k = get_global_id(0);
    int n = get_global_size(0);
    float best = 0.0f;
    for (int i = k; i < count; i += n) best = fmax(best, data[i]);
    out[k] = best;
}

// Multiplies every value of the plane by scale. 2-D over the plane.
kernel void normalize_scale(global float* data, int W, int H, float scale) {
    int x = get_global_id(0);
    int y = get_global_id(1);
    if (x >= W || y >= H) return;
    data[(size_t)y * (size_t)W + (size_t)x] *= scale;
}

// Pulls the carved heights towards their blurred surroundings where the edge exceeds 0.05:
// fully (times blendStrength) from an edge value of 0.5 up.
kernel void edge_blend(global float* heightMap, global const float* blurred,
                       global const float* edgeMap, global const uchar* alpha, int W, int H,
                       float blendStrength) {
    int x = get_global_id(0);
    int y = get_global_id(1);
    if (x >= W || y >= H) return;
    size_t i = (size_t)y * (size_t)W + (size_t)x;
    float e = edgeMap[i];
    if (alpha[i] < 10 || e <= 0.05f) return;
    float w = clamp(2.0f * e, 0.0f, 1.0f);
    heightMap[i] += (blurred[i] - heightMap[i]) * w * blendStrength;
}
