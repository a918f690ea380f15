#include "shell/screenshot.h"

#include <windows.h>

#include <optional>
#include <vector>

#include "shell/picture_encoders.h"
#include "shell/picture_file_win32.h"
#include "shell/screenshot_rules.h"
#include "win32/handles.h"
#include "win32/text.h"

namespace kelvora {

namespace {

// ---- Messages (UTF-8)

std::string AnsiToUtf8(const std::string& ansi) {
    return win32::Narrow(win32::Widen(ansi, CP_ACP), CP_UTF8);
}

std::string Reason(DWORD code) {
    switch (code) {
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return "на диске нет места";
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
        case ERROR_SHARING_VIOLATION:
            return "нет доступа на запись";
        case ERROR_PATH_NOT_FOUND:
        case ERROR_FILE_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_FILENAME_EXCED_RANGE:
        case ERROR_DIRECTORY:
            return "папка не найдена или имя файла недопустимо";
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return "недостаточно памяти";
        default:
            return "ошибка Windows " + std::to_string(code);
    }
}

ScreenshotResult Failure(std::string text) {
    return ScreenshotResult{ScreenshotOutcome::Failed, {}, std::move(text)};
}

ScreenshotResult FileFailure(const std::string& path, DWORD code) {
    return Failure("Не удалось сохранить снимок экрана в файл «" + AnsiToUtf8(path) +
                   "»: " + Reason(code) + ".");
}

// ---- Capture

// The screen as a bitmap of the display's own format (a DDB of the screen's
// size), and the screen DC that reads it back.
struct ScreenCapture {
    int width = 0;
    int height = 0;
    win32::Bitmap bitmap;
};

bool CaptureScreen(HDC screen, ScreenCapture* capture) {
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    RECT clip{};
    if (width <= 0 || height <= 0 || GetClipBox(screen, &clip) == ERROR) {
        return false;
    }
    win32::MemoryDc memory(CreateCompatibleDC(screen));
    win32::Bitmap bitmap(CreateCompatibleBitmap(screen, width, height));
    if (!memory || !bitmap) {
        return false;
    }
    {
        win32::SelectGuard select(memory.get(), bitmap.get());
        // With one display the clip box is the screen and the copy is 1:1;
        // with several, their whole area is fitted into the primary's size.
        SetStretchBltMode(memory.get(), COLORONCOLOR);
        if (!StretchBlt(memory.get(), 0, 0, width, height, screen, clip.left, clip.top,
                        clip.right - clip.left, clip.bottom - clip.top, SRCCOPY)) {
            return false;
        }
    }  // GetDIBits wants the bitmap selected into no DC
    capture->width = width;
    capture->height = height;
    capture->bitmap = std::move(bitmap);
    return true;
}

// BITMAPINFO with room for the largest colour table.
struct DibInfo {
    BITMAPINFOHEADER header;
    RGBQUAD colours[256];
};

// The capture at the display's bit depth, as a BMP file holds it.
bool ReadDisplayDib(HDC screen, const ScreenCapture& capture, DibPicture* picture,
                    std::vector<std::uint8_t>* bits) {
    DibInfo info{};
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    // Asked with no bit count, GetDIBits describes the bitmap's own format.
    if (!GetDIBits(screen, capture.bitmap.get(), 0, 0, nullptr,
                   reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS)) {
        return false;
    }
    int bitCount = info.header.biBitCount;
    if (bitCount == 15) {
        bitCount = 16;
    }
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 &&
        bitCount != 32) {
        bitCount = 32;
    }
    // 16 bits: keep the display's masks (5-6-5 or 5-5-5). 32 and 24 bits are
    // plain B, G, R (, unused); 8 bits and fewer carry the palette.
    info = DibInfo{};
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = capture.width;
    info.header.biHeight = capture.height;  // bottom-up, as BMP files keep rows
    info.header.biPlanes = 1;
    info.header.biBitCount = static_cast<WORD>(bitCount);
    info.header.biCompression = bitCount == 16 ? BI_BITFIELDS : BI_RGB;
    bits->resize(DibStride(capture.width, bitCount) * static_cast<std::size_t>(capture.height));
    if (GetDIBits(screen, capture.bitmap.get(), 0, static_cast<UINT>(capture.height), bits->data(),
                  reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS) != capture.height) {
        return false;
    }
    picture->width = capture.width;
    picture->height = capture.height;
    picture->bitCount = bitCount;
    picture->bits = bits->data();
    picture->table.clear();
    picture->bitFields = false;
    if (bitCount <= 8) {
        const std::size_t entries = std::size_t{1} << bitCount;
        for (std::size_t i = 0; i < entries; ++i) {
            const RGBQUAD& c = info.colours[i];
            picture->table.push_back(static_cast<std::uint32_t>(c.rgbRed) << 16 |
                                     static_cast<std::uint32_t>(c.rgbGreen) << 8 | c.rgbBlue);
        }
    } else if (bitCount == 16) {
        const auto* masks = reinterpret_cast<const DWORD*>(info.colours);
        picture->bitFields = true;
        picture->table = {masks[0], masks[1], masks[2]};
        if (masks[0] == 0 && masks[1] == 0 && masks[2] == 0) {
            picture->table = {0x7C00, 0x03E0, 0x001F};  // BI_RGB's 5-5-5
        }
    }
    return true;
}

// The capture as 32-bit B, G, R, x pixels, top row first.
bool ReadBgrx(HDC screen, const ScreenCapture& capture, BgrxPicture* picture,
              std::vector<std::uint8_t>* bits) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = capture.width;
    info.bmiHeader.biHeight = -capture.height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    bits->resize(static_cast<std::size_t>(capture.width) * capture.height * 4);
    if (GetDIBits(screen, capture.bitmap.get(), 0, static_cast<UINT>(capture.height), bits->data(),
                  &info, DIB_RGB_COLORS) != capture.height) {
        return false;
    }
    *picture = BgrxPicture{capture.width, capture.height, bits->data(),
                           static_cast<std::ptrdiff_t>(capture.width) * 4};
    return true;
}

}  // namespace

void SetScreenshotWriteLimitForTesting(std::uint64_t bytes) {
    PictureFile::SetWriteLimitForTesting(bytes);
}

ScreenshotResult SaveScreenshot(const std::string& outputDir, const std::string& format,
                                const std::string& compress, const LocalTime& now) {
    const std::optional<ScreenshotFormat> kind = ScreenshotFormatFromSetting(format);
    if (!kind) {
        return {};
    }
    int quality = 0;
    if (*kind == ScreenshotFormat::Jpeg) {
        const std::optional<int> q = JpegQualityFromSetting(compress);
        if (!q) {
            return {};
        }
        quality = *q;
    }

    const win32::WindowDc screen(nullptr);
    ScreenCapture capture;
    if (!screen || !CaptureScreen(screen.get(), &capture)) {
        return Failure("Не удалось снять изображение экрана.");
    }
    std::vector<std::uint8_t> bits;
    DibPicture dib;
    BgrxPicture bgrx;
    const bool read = *kind == ScreenshotFormat::Bmp
                          ? ReadDisplayDib(screen.get(), capture, &dib, &bits)
                          : ReadBgrx(screen.get(), capture, &bgrx, &bits);
    if (!read) {
        return Failure("Не удалось прочитать изображение экрана.");
    }

    const std::string path = OutputFileName(outputDir, now, ScreenshotExtension(*kind));
    PictureFile file;
    if (!file.Create(path)) {
        return FileFailure(path, file.error());
    }
    EncodeStatus status = EncodeStatus::EncoderFailed;
    switch (*kind) {
        case ScreenshotFormat::Bmp:
            status = EncodeBmp(dib, file);
            break;
        case ScreenshotFormat::Jpeg:
            status = EncodeJpeg(bgrx, quality, file);
            break;
        case ScreenshotFormat::Png:
            status = EncodePng(bgrx, file);
            break;
    }
    if (status == EncodeStatus::EncoderFailed) {
        return Failure(std::string("Не удалось закодировать снимок экрана в формат ") +
                       (*kind == ScreenshotFormat::Bmp    ? "BMP"
                        : *kind == ScreenshotFormat::Jpeg ? "JPEG"
                                                          : "PNG") +
                       ".");
    }
    if (status == EncodeStatus::SinkFailed || !file.Commit()) {
        return FileFailure(path, file.error());
    }
    return ScreenshotResult{ScreenshotOutcome::Saved, file.path(), {}};
}

}  // namespace kelvora
