// SPDX-License-Identifier: MIT
#include "cli/png_file.h"

#include "engine/file_stream.h"

#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include <wincodec.h>
#else
#include <png.h>
#endif

namespace glitchwerk {

#ifdef _WIN32

namespace {

// Releases a COM interface when it goes.
template <typename Interface> struct Held {
    Interface* p = nullptr;
    ~Held() {
        if (p)
            p->Release();
    }
    Interface** operator&() { return &p; }
    Interface* operator->() const { return p; }
};

bool Failed(HRESULT result, const char* what) {
    if (SUCCEEDED(result))
        return false;
    SetFailure(std::string(what) + ": " + std::system_category().message(static_cast<int>(result)));
    return true;
}

} // namespace

bool WritePng(std::FILE* file, std::uint32_t width, std::uint32_t height,
              std::span<const std::uint8_t> rgb) {
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    const bool started = SUCCEEDED(com);
    const auto written = [&] {
        Held<IWICImagingFactory> factory;
        Held<IStream> stream;
        Held<IWICBitmapEncoder> encoder;
        Held<IWICBitmapFrameEncode> frame;
        Held<IPropertyBag2> properties;
        if (Failed(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IWICImagingFactory, reinterpret_cast<void**>(&factory)),
                   "the Windows Imaging Component") ||
            Failed(CreateStreamOnHGlobal(nullptr, TRUE, &stream), "a PNG in memory") ||
            Failed(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder), "PNG") ||
            Failed(encoder->Initialize(stream.p, WICBitmapEncoderNoCache), "PNG") ||
            Failed(encoder->CreateNewFrame(&frame, &properties), "PNG") ||
            Failed(frame->Initialize(properties.p), "PNG") ||
            Failed(frame->SetSize(width, height), "PNG"))
            return false;
        WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
        if (Failed(frame->SetPixelFormat(&format), "PNG"))
            return false;
        if (format != GUID_WICPixelFormat24bppBGR) {
            SetFailure("PNG: no 24-bit pixels");
            return false;
        }
        std::vector<std::uint8_t> bgr(rgb.begin(), rgb.end());
        for (std::size_t i = 0; i + 2 < bgr.size(); i += 3)
            std::swap(bgr[i], bgr[i + 2]);
        if (Failed(frame->WritePixels(height, width * 3, static_cast<UINT>(bgr.size()), bgr.data()),
                   "PNG") ||
            Failed(frame->Commit(), "PNG") || Failed(encoder->Commit(), "PNG"))
            return false;
        HGLOBAL memory = nullptr;
        STATSTG facts{};
        if (Failed(GetHGlobalFromStream(stream.p, &memory), "a PNG in memory") ||
            Failed(stream->Stat(&facts, STATFLAG_NONAME), "a PNG in memory"))
            return false;
        const auto size = static_cast<std::size_t>(facts.cbSize.QuadPart);
        const void* bytes = GlobalLock(memory);
        const bool put = bytes && std::fwrite(bytes, 1, size, file) == size;
        if (bytes)
            GlobalUnlock(memory);
        if (!put)
            SetFailure(ErrnoText(errno));
        return put;
    }();
    if (started)
        CoUninitialize();
    return written;
}

#else

bool WritePng(std::FILE* file, std::uint32_t width, std::uint32_t height,
              std::span<const std::uint8_t> rgb) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = PNG_FORMAT_RGB;
    if (rgb.size() != std::size_t{width} * height * 3) {
        SetFailure("a picture of the wrong size");
        return false;
    }
    errno = 0;
    if (!png_image_write_to_stdio(&image, file, 0, rgb.data(), 0, nullptr)) {
        SetFailure(errno ? ErrnoText(errno) : std::string(image.message));
        png_image_free(&image);
        return false;
    }
    if (std::ferror(file)) {
        SetFailure(ErrnoText(errno));
        return false;
    }
    return true;
}

#endif

} // namespace glitchwerk
