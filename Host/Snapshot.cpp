#include "Host/Snapshot.h"

#include <algorithm>
#include <fstream>

#include "Framework/Exceptions.h"
#include "Framework/Text.h"

namespace Host {

namespace {

const char kSource[] = "Host/Snapshot";

uint32_t Crc32(const std::string& bytes, size_t from) {
    static const auto table = [] {
        std::vector<uint32_t> t(256);
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = from; i < bytes.size(); ++i) crc = table[(crc ^ uint8_t(bytes[i])) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

uint32_t Adler32(const std::vector<uint8_t>& bytes) {
    uint32_t a = 1, b = 0;
    for (uint8_t byte : bytes) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    return (b << 16) | a;
}

void PutBigEndian(std::string& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out += char((value >> shift) & 0xFF);
}

void PutChunk(std::string& out, const char type[4], const std::string& data) {
    PutBigEndian(out, uint32_t(data.size()));
    size_t start = out.size();
    out.append(type, 4);
    out += data;
    PutBigEndian(out, Crc32(out, start));
}

// A zlib stream of stored blocks: each holds at most 65535 bytes.
std::string StoredZlib(const std::vector<uint8_t>& raw) {
    std::string out = "\x78\x01";
    size_t pos = 0;
    do {
        size_t length = std::min<size_t>(65535, raw.size() - pos);
        bool last = pos + length == raw.size();
        out += char(last ? 1 : 0);
        out += char(length & 0xFF);
        out += char(length >> 8);
        out += char(~length & 0xFF);
        out += char((~length >> 8) & 0xFF);
        out.append(reinterpret_cast<const char*>(raw.data()) + pos, length);
        pos += length;
    } while (pos < raw.size());
    PutBigEndian(out, Adler32(raw));
    return out;
}

}  // namespace

std::string EncodePng(unsigned width, unsigned height, const std::vector<uint8_t>& rgb) {
    if (size_t(width) * height * 3 != rgb.size()) throw InternalError("EncodePng: the pixels do not fill the picture");
    std::string png = "\x89PNG\r\n\x1A\n";
    std::string header;
    PutBigEndian(header, width);
    PutBigEndian(header, height);
    header += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, deflate, no filter, no interlace
    PutChunk(png, "IHDR", header);
    std::vector<uint8_t> rows;
    rows.reserve(size_t(width * 3 + 1) * height);
    for (unsigned y = 0; y < height; ++y) {
        rows.push_back(0);  // filter type: none
        rows.insert(rows.end(), rgb.begin() + size_t(y) * width * 3, rgb.begin() + size_t(y + 1) * width * 3);
    }
    PutChunk(png, "IDAT", StoredZlib(rows));
    PutChunk(png, "IEND", "");
    return png;
}

void SnapshotWindow(HWND window, const std::wstring& pngPath) {
    RECT frame;
    if (!IsWindow(window) || !GetWindowRect(window, &frame)) throw WindowsError(ERROR_INVALID_WINDOW_HANDLE, kSource, __LINE__);
    int width = frame.right - frame.left, height = frame.bottom - frame.top;
    if (width <= 0 || height <= 0) throw VelmorException(L"the window has no area to picture");
    // Paint what is pending first, so the picture shows the window as it is now.
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC source = GetWindowDC(window);
    HDC memory = CreateCompatibleDC(source);
    HBITMAP bitmap = CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool copied = false;
    if (memory && bitmap) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        copied = BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY);
        GdiFlush();
        SelectObject(memory, old);
    }
    std::vector<uint8_t> rgb;
    if (copied) {
        rgb.reserve(size_t(width) * height * 3);
        auto* pixels = static_cast<const uint8_t*>(bits);
        for (size_t i = 0; i < size_t(width) * height; ++i) {
            rgb.push_back(pixels[i * 4 + 2]);
            rgb.push_back(pixels[i * 4 + 1]);
            rgb.push_back(pixels[i * 4]);
        }
    }
    DWORD error = GetLastError();
    if (bitmap) DeleteObject(bitmap);
    if (memory) DeleteDC(memory);
    ReleaseDC(window, source);
    if (!copied) throw WindowsError(error ? error : ERROR_INVALID_HANDLE, kSource, __LINE__);

    std::string png = EncodePng(unsigned(width), unsigned(height), rgb);
    std::ofstream out(pngPath.c_str(), std::ios::binary | std::ios::trunc);
    out.write(png.data(), std::streamsize(png.size()));
    out.close();
    if (!out) throw VelmorException(L"cannot write the picture " + pngPath);
}

}  // namespace Host
