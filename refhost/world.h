// OwnedWorld: an effect world (PF_EffectWorld) that owns its pixels, at 8, 16 or 32 bits per
// channel, with rows padded as a host pads them. Pixels start zeroed (transparent black).
#pragma once
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "AE_Effect.h"
#include "refhost/world_suite.h"

namespace refhost {

class OwnedWorld {
public:
    OwnedWorld() { std::memset(&world_, 0, sizeof(world_)); }

    // bitsPerChannel is 8, 16 or 32. rowPaddingBytes is added to every row and rounded up to a
    // multiple of 4 so that 16- and 32-bit rows stay aligned. Throws std::invalid_argument for
    // an unsupported depth or a negative size.
    OwnedWorld(std::int32_t width, std::int32_t height, int bitsPerChannel,
               std::int32_t rowPaddingBytes = 0)
        : OwnedWorld() {
        if (bitsPerChannel != 8 && bitsPerChannel != 16 && bitsPerChannel != 32) {
            throw std::invalid_argument("bits per channel must be 8, 16 or 32");
        }
        if (width < 0 || height < 0 || rowPaddingBytes < 0) {
            throw std::invalid_argument("negative world size");
        }
        bitsPerChannel_ = bitsPerChannel;
        const std::int64_t pixelBytes = 4 * (bitsPerChannel / 8);
        const std::int64_t rowBytes = width * pixelBytes + (rowPaddingBytes + 3) / 4 * 4;
        if (rowBytes > INT32_MAX) throw std::invalid_argument("world too large");
        const std::size_t bytes = static_cast<std::size_t>(rowBytes * height);
        pixels_ = std::make_unique<std::uint8_t[]>(bytes ? bytes : 1);  // value-initialised: 0
        world_.data = reinterpret_cast<PF_PixelPtr>(pixels_.get());
        world_.rowbytes = static_cast<A_long>(rowBytes);
        world_.width = width;
        world_.height = height;
        world_.world_flags =
            PF_WorldFlag_WRITEABLE | (bitsPerChannel == 16 ? PF_WorldFlags{PF_WorldFlag_DEEP} : 0);
        world_.extent_hint = PF_LRect{0, 0, width, height};
        world_.pix_aspect_ratio = PF_RationalScale{1, 1};
        recordWorldPixels(pixels_.get(), bitsPerChannel);
    }

    // The world suite knows the pixels' depth while the world lives.
    ~OwnedWorld() {
        if (pixels_) forgetWorldPixels(pixels_.get());
    }
    OwnedWorld(OwnedWorld&& other) noexcept
        : world_(other.world_),
          pixels_(std::move(other.pixels_)),
          bitsPerChannel_(other.bitsPerChannel_) {}
    OwnedWorld& operator=(OwnedWorld&& other) noexcept {
        if (this != &other) {
            if (pixels_) forgetWorldPixels(pixels_.get());
            world_ = other.world_;
            pixels_ = std::move(other.pixels_);
            bitsPerChannel_ = other.bitsPerChannel_;
        }
        return *this;
    }

    // Whether a world made with these arguments would have this world's layout.
    bool hasLayout(std::int32_t width, std::int32_t height, int bitsPerChannel,
                   std::int32_t rowPaddingBytes) const {
        const std::int64_t rowBytes =
            std::int64_t{width} * 4 * (bitsPerChannel / 8) + (rowPaddingBytes + 3) / 4 * 4;
        return pixels_ && world_.width == width && world_.height == height &&
               bitsPerChannel_ == bitsPerChannel && world_.rowbytes == rowBytes;
    }

    PF_EffectWorld* world() { return &world_; }
    const PF_EffectWorld* world() const { return &world_; }
    std::int32_t width() const { return world_.width; }
    std::int32_t height() const { return world_.height; }
    std::int32_t rowBytes() const { return world_.rowbytes; }
    int bitsPerChannel() const { return bitsPerChannel_; }
    bool empty() const { return !pixels_; }

    // Row y as the pixel type of the world's depth (PF_Pixel8, PF_Pixel16 or PF_PixelFloat).
    template <typename Pixel>
    Pixel* row(std::int32_t y) {
        return reinterpret_cast<Pixel*>(pixels_.get() + std::int64_t(y) * world_.rowbytes);
    }
    template <typename Pixel>
    const Pixel* row(std::int32_t y) const {
        return reinterpret_cast<const Pixel*>(pixels_.get() + std::int64_t(y) * world_.rowbytes);
    }

private:
    PF_EffectWorld world_;
    std::unique_ptr<std::uint8_t[]> pixels_;
    int bitsPerChannel_ = 0;
};

}  // namespace refhost
