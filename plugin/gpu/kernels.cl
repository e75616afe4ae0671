// Lumet OpenCL kernels. Each kernel computes what the CPU form of its stage computes with the same
// operations in the same order, so that a frame is the same whichever device rendered it: no
// contraction into fused multiply-adds (the pragma below), no relaxed math in the build options,
// and correctly rounded division and square root where the device offers them. Planes are
// row-major (index y * W + x) with rows back to back; normals are three interleaved floats per
// pixel; alpha is one byte per pixel. The build puts core/stage_constants.h in front of this file:
// the named constants and ShadeKernelConstants come from there.
#pragma OPENCL FP_CONTRACT OFF

// ---------------------------------------------------------------------------------------------
// Helpers

// The C++ library's std::max, std::min and std::clamp on floats, whose results (for -0 and NaN
// too) fmax, fmin and clamp do not promise.
float mf_max(float a, float b) { return a < b ? b : a; }
float mf_min(float a, float b) { return b < a ? b : a; }
float mf_clamp(float v, float low, float high) { return v < low ? low : (high < v ? high : v); }
float mf_clamp01(float v) { return mf_min(1.0f, mf_max(0.0f, v)); }

float mf_lerp(float a, float b, float t) { return a + (b - a) * t; }

// The specular power curve from the 1024-entry table, interpolated linearly; exact at 0 and 1.
float mf_lutPow(global const float* lut, float x) {
    if (x <= 0.0f) return 0.0f;
    if (x >= 1.0f) return 1.0f;
    float f = x * kPowLutScale;
    int k = (int)f;
    if (k >= kPowLutSize - 1) return lut[kPowLutSize - 1];
    return lut[k] + (lut[k + 1] - lut[k]) * (f - (float)k);  // matched to CPU
}

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
    float fy = (isfinite(v) ? mf_clamp(v, 0.0f, 1.0f) : 0.0f) * (float)(h - 1);
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
    float fy = (float)(h - 1) * mf_clamp(v, 0.0f, 1.0f);
    int iy = (int)fy;
    float ty = fy - (float)iy;
    size_t row0 = (size_t)max(iy, 0) * (size_t)w;
    size_t row1 = (size_t)min(iy + 1, h - 1) * (size_t)w;
    float w00 = (1.0f - tx) * (1.0f - ty), w10 = tx * (1.0f - ty);
    float w01 = (1.0f - tx) * ty, w11 = tx * ty;
    return plane[row0 + ix] * w00 + plane[row0 + ix1] * w10 + plane[row1 + ix] * w01 +
           plane[row1 + ix1] * w11;
}

// The renormalisation of the normals: (nx, ny, nz) divided by its length; a zero length gives
// (0, 0, 1).
void mf_renormalise(float* nx, float* ny, float* nz) {
    float length = sqrt(*nx * *nx + *ny * *ny + *nz * *nz);
    if (length > 0.0f) {
        *nx /= length;
        *ny /= length;
        *nz /= length;
    } else {
        *nx = 0.0f;
        *ny = 0.0f;
        *nz = 1.0f;
    }
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
// (originX, originY) of a frameW x frameH frame, on whose centre the projection is centred. As the
// CPU stage, without its anisotropic streaks (the renders keep anisotropic frames on the CPU).
// rows holds content_rows' flags for the frame's even columns: a row without surface there is
// black, as on the CPU.

kernel void env_reflection(global const float* normalMap, global const uchar* alpha,
                           global const float* heightMap, global const uchar* rows,
                           global float* outR, global float* outG, global float* outB,
                           global const float* sharpR, global const float* sharpG,
                           global const float* sharpB, global const float* smoothR,
                           global const float* smoothG, global const float* smoothB, int W, int H,
                           int originX, int originY, int frameW, int frameH, int contentW,
                           int contentH, int envW, int envH, float envBlend, float envScale,
                           float envDisplacement, float envRotX, float envRotY, float dispersion) {
    int x = get_global_id(0);
    int y = get_global_id(1);
    if (x >= W || y >= H) return;
    size_t i = (size_t)y * (size_t)W + (size_t)x;
    outR[i] = 0.0f;
    outG[i] = 0.0f;
    outB[i] = 0.0f;
    if (!rows[y] || !(alpha[i] >= kSurfaceAlpha || heightMap[i] >= kRaisedHeight)) return;

    float bb = mf_clamp(envBlend, 0.0f, 1.0f);
    float normalShift = envDisplacement * kNormalShift * (1.0f - bb * kBlurShiftDamping);
    float uvScale = (float)max(max(contentW, contentH), 1);
    float envZoom = kZoomBase + envScale * kZoomRange;

    float nx = normalMap[3 * i];
    float ny = normalMap[3 * i + 1];
    float steep = fabs(nx) + fabs(ny);
    float shift = normalShift;
    if (steep > kSteepNormal) shift *= kSteepNormal / steep;

    float a = mf_min(1.0f, bb + (1.0f - bb) * mf_clamp(steep, 0.0f, 1.0f));
    float s = a * a * (3.0f - 2.0f * a);

    float cv = ((float)(y + originY) / uvScale - 0.5f * (float)frameH / uvScale) / envZoom;
    float cu = ((float)(x + originX) / uvScale - 0.5f * (float)frameW / uvScale) / envZoom;
    float d2 = cu * cu + cv * cv;
    if (d2 > kBarrelFrom) {
        float barrel = 1.0f + kBarrel * d2;
        cu *= barrel;
        cv *= barrel;
    }
    float u = cu + 0.5f + nx * shift + envRotX;
    float v = cv + 0.5f + ny * shift + envRotY;
    u -= floor(u);
    v -= floor(v);

    float sR = mf_sampleBicubic(sharpR, envW, envH, u, v);
    float sG = mf_sampleBicubic(sharpG, envW, envH, u, v);
    float sB = mf_sampleBicubic(sharpB, envW, envH, u, v);
    float mR = mf_sampleBilinear(smoothR, envW, envH, u, v);
    float mG = mf_sampleBilinear(smoothG, envW, envH, u, v);
    float mB = mf_sampleBilinear(smoothB, envW, envH, u, v);
    if (dispersion > kDispersionOn) {
        // Red and blue from the sharp map at positions shifted along u, wrapped once.
        float delta = dispersion * kDispersionShift;
        float uR = u + delta;
        if (uR > 1.0f) uR -= 1.0f;
        float uB = u - delta;
        if (uB < 0.0f) uB += 1.0f;
        sR = mf_sampleBicubic(sharpR, envW, envH, uR, v);
        sB = mf_sampleBicubic(sharpB, envW, envH, uB, v);
    }
    outR[i] = mf_lerp(sR, mR, s);
    outG[i] = mf_lerp(sG, mG, s);
    outB[i] = mf_lerp(sB, mB, s);
}

// ---------------------------------------------------------------------------------------------
// Surface shading at the working size, one work item per pixel, as the CPU stage: pixels outside
// Outside the window k->left .. k->right x k->top .. k->bottom and on rows that content_rows did
// not flag (no coverage, nor with outerStyle a raised pixel, inside the columns) the output is 0;
// partial coverage scales the clamped colour by its square.

kernel void shade_pixel(global const uchar* alpha, global const float* heightMap,
                        global const float* normalMap, global const float* envR,
                        global const float* envG, global const float* envB,
                        global const uchar* rows, global float* outR, global float* outG,
                        global float* outB, global const float* powLUT, int W, int H,
                        constant ShadeKernelConstants* k) {
    int x = get_global_id(0);
    int y = get_global_id(1);
    if (x >= W || y >= H) return;
    size_t i = (size_t)y * (size_t)W + (size_t)x;
    outR[i] = 0.0f;
    outG[i] = 0.0f;
    outB[i] = 0.0f;
    if (x < k->left || x >= k->right || y < k->top || y >= k->bottom || !rows[y]) return;
    float Lx = k->lightDir[0], Ly = k->lightDir[1], Lz = k->lightDir[2];
    float Hx = k->halfDir[0], Hy = k->halfDir[1], Hz = k->halfDir[2];
    float metal = k->metal, opacity = k->opacity, specularInt = k->specular;
    float specNorm = k->specNorm, saturation = k->saturation, tintBlend = k->tintBlend;
    float envExposure = k->envExposure, envContrast = k->envContrast;

    float a = (float)alpha[i] / 255.0f;
    float h = heightMap[i];
    // An outer-bevel surface outside the alpha takes its coverage from its height.
    if (a < kCoverageMin && h > kRaisedHeight) a = mf_clamp01(h);
    if (a < kCoverageMin) return;
    float nx = normalMap[3 * i];
    float ny = normalMap[3 * i + 1];
    float nz = normalMap[3 * i + 2];
    float e[3] = {envR[i], envG[i], envB[i]};
    bool interior = x >= 1 && x < W - 1 && y >= 1 && y < H - 1;
    float lap = interior ? heightMap[i - 1] + heightMap[i + 1] + heightMap[i - (size_t)W] +
                               heightMap[i + (size_t)W] - 4.0f * h
                         : 0.0f;

    if (envExposure != 1.0f) {
        for (int c = 0; c < 3; ++c) e[c] *= envExposure;
    }
    if (fabs(envContrast - 0.5f) > kContrastTolerance) {
        float t = 2.0f * (envContrast - 0.5f);
        float f = envContrast <= 0.5f ? 2.0f * envContrast : 1.0f + kContrastSteepness * t * t;
        for (int c = 0; c < 3; ++c) {
            e[c] = mf_max(0.0f, 0.5f + (e[c] - 0.5f) * f);
        }
    }
    if (h > kPlateauStart) {
        float flat = (h - kPlateauStart) / kPlateauSpan;
        float mean = (e[0] + e[1] + e[2]) * kPlateauMeanWeight;
        for (int c = 0; c < 3; ++c)
            e[c] = mf_clamp01(mean + (e[c] - mean) * (1.0f + kPlateauContrast * flat));
    }

    float slope = sqrt(nx * nx + ny * ny);
    float NdL = nx * Lx + ny * Ly + nz * Lz;
    float hl = 0.5f * NdL + 0.5f;
    float baseDiffuse = hl * hl * (1.0f - Lz * Lz * (1.0f - slope) * kDiffuseFlattening);
    float ao = (h > kOcclusionStart && h < kOcclusionEnd)
                   ? kOcclusionFloor + kOcclusionRise * (h - kOcclusionStart) / kOcclusionSpan
                   : 1.0f;
    float diffuse = baseDiffuse * (1.0f - kMetalDiffuseLoss * metal) * ao;
    float lum = mf_clamp01((kLumaR * e[0] + kLumaG * e[1] + kLumaB * e[2]) * baseDiffuse);

    constant float* shadow = k->shadow;
    constant float* mid = k->midtone;
    constant float* high = k->highlight;
    float om = 1.0f - mf_max(nz, 0.0f);
    float f5 = om * om * om * om * om;
    float cav = interior ? 1.0f - mf_clamp01(-k->cavityGain * lap) * kCavityDepth : 1.0f;
    float NdH = mf_max(0.0f, nx * Hx + ny * Hy + nz * Hz);
    float spec =
        mf_lutPow(powLUT, NdH) * specularInt * specNorm * (kSpecularFlat + kSpecularSlope * slope);
    float envDiffuse = diffuse + (1.0f - diffuse) * metal;
    float metalBright = 1.0f + kMetalBrightness * metal;

    float out[3];
    for (int c = 0; c < 3; ++c) {
        float tone = lum < 0.5f ? mf_lerp(shadow[c], mid[c], 2.0f * lum)
                                : mf_lerp(mid[c], high[c], 2.0f * (lum - 0.5f));
        float tinted = mf_lerp(mid[c], tone, tintBlend);
        float f0 = kFresnelF0 + (mid[c] - kFresnelF0) * metal;
        float fr = f0 + (1.0f - f0) * f5;
        float boost = 1.0f + (fr - f0) * kFresnelBoost;
        out[c] = e[c] * tinted * envDiffuse * boost * cav * metalBright +
                 (1.0f + (mid[c] - 1.0f) * metal) * spec;
    }
    if (opacity < kTranslucentBelow) {
        float sc = (1.0f - opacity) * (1.0f - h) * kTranslucentScatter;
        out[0] += kTranslucentR * sc;
        out[1] += kTranslucentG * sc;
        out[2] += kTranslucentB * sc;
    }
    if (saturation < 1.0f) {
        float gray = kLumaR * out[0] + kLumaG * out[1] + kLumaB * out[2];
        for (int c = 0; c < 3; ++c) out[c] = gray + (out[c] - gray) * saturation;
    }
    for (int c = 0; c < 3; ++c) {
        out[c] = mf_clamp01(out[c]);
        if (a < kCoverageFadeBelow) out[c] *= a * a;
    }
    outR[i] = out[0];
    outG[i] = out[1];
    outB[i] = out[2];
}

// ---------------------------------------------------------------------------------------------
// Glow source: the shaded colour weighted by a smoothstep of its brightest channel from 0.25 to
// 0.75; nothing where the coverage is below 0.002. One work item per pixel.

kernel void glow_extract(global const float* imgR, global const float* imgG,
                         global const float* imgB, global const uchar* alpha, global float* glowR,
                         global float* glowG, global float* glowB, global float* glowA, int total) {
    int i = get_global_id(0);
    if (i >= total) return;
    float a = (float)alpha[i] / 255.0f;
    if (a < kGlowCoverageMin) {
        glowR[i] = 0.0f;
        glowG[i] = 0.0f;
        glowB[i] = 0.0f;
        glowA[i] = 0.0f;
        return;
    }
    float brightest = mf_max(mf_max(imgR[i], imgG[i]), imgB[i]);
    float t = mf_clamp((brightest - kGlowThreshold) / kGlowKnee, 0.0f, 1.0f);
    float s = t * t * (3.0f - 2.0f * t);
    glowR[i] = imgR[i] * s;
    glowG[i] = imgG[i] * s;
    glowB[i] = imgB[i] * s;
    glowA[i] = s;
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
    glowR[i] = sqrt(mf_max(glowR[i], 0.0f));
    glowG[i] = sqrt(mf_max(glowG[i], 0.0f));
    glowB[i] = sqrt(mf_max(glowB[i], 0.0f));
    glowA[i] = mf_min(1.0f, sqrt(mf_max(glowA[i], 0.0f)));
}

// ---------------------------------------------------------------------------------------------
// Box filter of radius r plus fraction f with clamped edges, by a running sum: the 2r + 1 centre
// taps weigh 1, the two taps just outside weigh f. One line of n samples, stride apart.
// As on the CPU, the sum is set to exactly 0 where every tap (x - reach .. x + reach, clamped) is
// zero, NaN counting as non-zero: lastNonZero is the last such sample to enter the window.

void mf_boxLine(global const float* src, global float* dst, size_t stride, int n, int r, float f) {
    if (r < 1 && f < 0.001f) {
        for (int x = 0; x < n; ++x) dst[x * stride] = src[x * stride];
        return;
    }
    float invSize = 1.0f / (2.0f * (float)r + 1.0f + 2.0f * f);
    int last = n - 1;
    int reach = f != 0.0f ? r + 1 : r;
    float sum = 0.0f;
    for (int i = -r; i <= r; ++i) sum += src[clamp(i, 0, last) * stride];
    sum += f * src[clamp(-r - 1, 0, last) * stride] + f * src[clamp(r + 1, 0, last) * stride];
    int lastNonZero = -1;
    for (int i = 0; i <= min(reach, last); ++i)
        if (!(src[i * stride] == 0.0f)) lastNonZero = i;
    dst[0] = sum * invSize;
    float g = 1.0f - f;
    for (int x = 1; x < n; ++x) {
        int entering = min(x + reach, last);
        if (!(src[entering * stride] == 0.0f)) lastNonZero = entering;
        sum += g * src[min(x + r, last) * stride] + f * src[min(x + r + 1, last) * stride] -
               g * src[max(x - r - 1, 0) * stride] - f * src[max(x - r - 2, 0) * stride];
        if (lastNonZero < x - reach) sum = 0.0f;
        dst[x * stride] = sum * invSize;
    }
}

// Horizontal pass: one work item per row.
kernel void blur_h(global const float* src, global float* dst, int W, int H, int iRadius,
                   float frac) {
    int y = get_global_id(0);
    if (y >= H) return;
    size_t row = (size_t)y * (size_t)W;
    mf_boxLine(src + row, dst + row, 1, W, iRadius, frac);
}

// Vertical pass: one work item per column.
kernel void blur_v(global const float* src, global float* dst, int W, int H, int iRadius,
                   float frac) {
    int x = get_global_id(0);
    if (x >= W) return;
    mf_boxLine(src + x, dst + x, (size_t)W, H, iRadius, frac);
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
    float top = mf_lerp(src[r0 + x0], src[r0 + x1], tx);
    float bottom = mf_lerp(src[r1 + x0], src[r1 + x1], tx);
    dst[(size_t)y * (size_t)dstW + x] += weight * mf_lerp(top, bottom, ty);
}

// ---------------------------------------------------------------------------------------------
// Surface normals from the height map, in the CPU stage's two passes: normal_rows filters each row
// with the 9 derivative and the 9 smoothing taps (clamped at the edges), compute_normals filters
// the columns of those two planes the other way round and turns the slope into a unit normal:
// renormalised, flattened towards the plateau, faded towards straight up at faint edges and
// snapped to flat where it is almost flat. taps holds the 9 smoothing then the 9 derivative taps
// the CPU computes. One work item per pixel.

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
    normalMap[3 * i] = 0.0f;
    normalMap[3 * i + 1] = 0.0f;
    normalMap[3 * i + 2] = 1.0f;
    float h = heightMap[i];
    uchar a = alpha[i];
    if (h < 0.001f && a < 2) return;

    float gx = 0.0f, gy = 0.0f;
    for (int k = 0; k < 9; ++k) {
        size_t row = (size_t)min(max(y + k - 4, 0), H - 1) * (size_t)W + (size_t)x;
        gx += derivX[row] * taps[k];
        gy += smoothX[row] * taps[9 + k];
    }
    float nx = -bevelStr * gx, ny = -bevelStr * gy, nz = 1.0f;
    mf_renormalise(&nx, &ny, &nz);
    if (h > 0.8f) {
        // Plateau tops flatten.
        float t = (h - 0.8f) / 0.2f;
        float p = t * t * t;
        nx *= 1.0f - 0.5f * p;
        ny *= 1.0f - 0.5f * p;
        mf_renormalise(&nx, &ny, &nz);
    }
    float e = mf_max(h, (float)a / 255.0f);
    if (e < 0.9f) {
        // Faint edges lean towards straight up.
        float r = e / 0.9f;
        float b = r * r;
        nx = nx * b;
        ny = ny * b;
        nz = (nz - 1.0f) * b + 1.0f;
        mf_renormalise(&nx, &ny, &nz);
    }
    if (nx * nx + ny * ny < 0.0004f) {
        nx = 0.0f;
        ny = 0.0f;
        nz = 1.0f;
    }
    normalMap[3 * i] = nx;
    normalMap[3 * i + 1] = ny;
    normalMap[3 * i + 2] = nz;
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
