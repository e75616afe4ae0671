// Exact Euclidean distance transform (Felzenszwalb and Huttenlocher's lower envelope of parabolas,
// in exact integer arithmetic over pixel positions).
//
// Column pass: g(x, y) = vertical distance to the nearest background pixel of column x, or
// (width + height) + y when the column has none. It is stored in the distance plane itself (as
// exactly representable floats), so the transform needs no full-size scratch plane.
//
// Row pass: d(u)^2 = min over v of (u - v)^2 + g(v)^2. The stack holds the parabolas of the lower
// envelope with the first pixel each one owns; a parabola is kept only while it owns at least one
// pixel of the row, and ownership boundaries are floor divisions of 64-bit integers, so the result
// is exact (ties between equally near parabolas give the same distance either way).
#include "geometry/distance_transform.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

#include "parallel/parallel_rows.h"
#include "platform/plane.h"

namespace lumet {

namespace {

// Largest column value that a float holds exactly.
constexpr std::int64_t kExactFloatInteger = std::int64_t{1} << 24;

// Column pass over columns [begin, end), walking rows top to bottom so that each step reads and
// writes a contiguous run of the band's columns.
template <class G>
void columnPass(const std::uint8_t* alpha, G* g, std::int32_t width, std::int32_t height,
                std::int32_t begin, std::int32_t end, DistanceTo background) {
    const std::int64_t w = width;
    const G inf = static_cast<G>(static_cast<std::int64_t>(width) + height);
    const bool belowHalf = background == DistanceTo::kBelowHalf;
    for (std::int32_t x = begin; x < end; ++x)
        g[x] = (belowHalf ? alpha[x] < 128 : alpha[x] >= 128) ? G(0) : inf;
    for (std::int32_t y = 1; y < height; ++y) {
        const std::uint8_t* a = alpha + y * w;
        const G* above = g + (y - 1) * w;
        G* row = g + y * w;
        if (belowHalf) {
            for (std::int32_t x = begin; x < end; ++x)
                row[x] = a[x] < 128 ? G(0) : static_cast<G>(above[x] + G(1));
        } else {
            for (std::int32_t x = begin; x < end; ++x)
                row[x] = a[x] >= 128 ? G(0) : static_cast<G>(above[x] + G(1));
        }
    }
    for (std::int32_t y = height - 2; y >= 0; --y) {
        const G* below = g + (y + 1) * w;
        G* row = g + y * w;
        for (std::int32_t x = begin; x < end; ++x)
            row[x] = std::min(row[x], static_cast<G>(below[x] + G(1)));
    }
}

// Square roots of a row of non-negative values. The packed form gives the same correctly rounded
// results as std::sqrt; it is spelled out because the library call is not vectorised while it may
// have to set errno.
inline void squareRoots(float* values, std::int32_t n) {
    std::int32_t i = 0;
#if defined(__SSE2__) || defined(_M_X64)
    for (; i + 4 <= n; i += 4) _mm_storeu_ps(values + i, _mm_sqrt_ps(_mm_loadu_ps(values + i)));
#endif
    for (; i < n; ++i) values[i] = std::sqrt(values[i]);
}

// floor(num / den) for den > 0.
inline std::int64_t floorDivide(std::int64_t num, std::int64_t den) {
    std::int64_t q = num / den;
    if (num % den != 0 && num < 0) --q;
    return q;
}

// Row scratch of one band: parabola positions, first owned pixels, and u^2 + g(u)^2 keys.
struct RowStacks {
    Plane<std::int32_t> positionsAndStarts;
    Plane<std::int64_t> keys;
    bool allocate(std::int32_t width) {
        positionsAndStarts = allocatePlane<std::int32_t>(2 * static_cast<std::int64_t>(width));
        keys = allocatePlane<std::int64_t>(width);
        return positionsAndStarts && keys;
    }
};

// Distances of one row from its column values gRow (which may alias out).
template <class G>
void rowEnvelope(const G* gRow, float* out, std::int32_t width, std::int32_t* s, std::int32_t* t,
                 std::int64_t* key) {
    std::int32_t q = 0;
    s[0] = 0;
    t[0] = 0;
    {
        const std::int64_t g0 = static_cast<std::int64_t>(gRow[0]);
        key[0] = g0 * g0;
    }
    const std::int64_t lastStart = width - 1;
    for (std::int32_t u = 1; u < width; ++u) {
        const std::int64_t gu = static_cast<std::int64_t>(gRow[u]);
        const std::int64_t keyU = static_cast<std::int64_t>(u) * u + gu * gu;
        if (gu == 0 && s[q] == u - 1 && key[q] == static_cast<std::int64_t>(u - 1) * (u - 1)) {
            // Background after background: the two parabolas meet between their pixels, each
            // owning its own (the general step's division gives u, and u joins while it lies in
            // the row). The common case of the margins, without the division.
            ++q;
            s[q] = u;
            t[q] = u;
            key[q] = keyU;
            continue;
        }
        for (;;) {
            // Parabola u is strictly nearer than parabola s[q] from pixel floor(num / den) + 1 on.
            const std::int64_t num = keyU - key[q];
            const std::int64_t den = 2 * static_cast<std::int64_t>(u - s[q]);
            if (num >= t[q] * den) {
                // s[q] keeps at least pixel t[q]. u joins unless it would own nothing in the row.
                if (num < lastStart * den) {
                    ++q;
                    s[q] = u;
                    t[q] = static_cast<std::int32_t>(floorDivide(num, den) + 1);
                    key[q] = keyU;
                }
                break;
            }
            // u is at least as near as s[q] everywhere s[q] owned: drop s[q].
            if (q == 0) {
                s[0] = u;
                key[0] = keyU;
                break;
            }
            --q;
        }
    }
    for (std::int32_t u = width - 1; u >= 0; --u) {
        while (u < t[q]) --q;
        const std::int64_t dx = u - s[q];
        const std::int64_t position = s[q];
        const std::int64_t squared = dx * dx + (key[q] - position * position);
        out[u] = static_cast<float>(squared);
    }
    squareRoots(out, width);
}

template <class G>
void rowPass(const G* g, float* distance, std::int32_t width, std::int32_t height) {
    const std::int64_t w = width;
    ParallelRows(height, [&](std::int32_t begin, std::int32_t end) {
        RowStacks stacks;
        if (!stacks.allocate(width)) {
            std::memset(distance + begin * w, 0, planeBytes(end - begin, w, sizeof(float)));
            return;
        }
        std::int32_t* s = stacks.positionsAndStarts.get();
        std::int32_t* t = s + width;
        for (std::int32_t y = begin; y < end; ++y)
            rowEnvelope(g + y * w, distance + y * w, width, s, t, stacks.keys.get());
    });
}

}  // namespace

void distanceTransformCpu(const std::uint8_t* alpha, float* distance, std::int32_t width,
                          std::int32_t height, DistanceTo background) {
    if (!alpha || !distance || width < 1 || height < 1) return;
    const std::int64_t largestColumnValue = static_cast<std::int64_t>(width) + 2 * height;
    if (largestColumnValue <= kExactFloatInteger) {
        ParallelRows(width, [&](std::int32_t begin, std::int32_t end) {
            columnPass(alpha, distance, width, height, begin, end, background);
        });
        rowPass<float>(distance, distance, width, height);
        return;
    }
    // Planes too tall or wide for exact float column values keep them in a 32-bit plane.
    Plane<std::int32_t> g =
        largestColumnValue < (std::int64_t{1} << 30)
            ? allocatePlane<std::int32_t>(static_cast<std::int64_t>(width) * height)
            : Plane<std::int32_t>();
    if (!g) {
        std::memset(distance, 0, planeBytes(width, height, sizeof(float)));
        return;
    }
    ParallelRows(width, [&](std::int32_t begin, std::int32_t end) {
        columnPass(alpha, g.get(), width, height, begin, end, background);
    });
    rowPass<std::int32_t>(g.get(), distance, width, height);
}

void distanceTransform(const std::uint8_t* alpha, float* distance, std::int32_t width,
                       std::int32_t height, const GeometryAccelerators& accelerated) {
    if (accelerated.distanceTransform &&
        accelerated.distanceTransform(alpha, distance, width, height))
        return;
    distanceTransformCpu(alpha, distance, width, height, DistanceTo::kBelowHalf);
}

}  // namespace lumet
