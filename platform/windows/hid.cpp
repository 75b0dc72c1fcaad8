// HID devices on Windows through the system's HID class driver: SetupDi lists
// the HID interfaces, HidD_* reads their identity and carries feature reports,
// and overlapped ReadFile/WriteFile the input and output reports. Windows wants
// every report at the full length the device declares; shorter ones are padded.
#include "platform/hid.h"

#include "platform/windows/text.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <windows.h>
#include <setupapi.h>
// mingw-w64's HID headers declare C functions without saying so.
extern "C" {
#include <hidsdi.h>
}

namespace platform::hid {
namespace {

int errnoOf(DWORD error) {
    switch (error) {
        case ERROR_ACCESS_DENIED: return EACCES;
        case ERROR_SHARING_VIOLATION: return EBUSY;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND: return ENOENT;
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_GEN_FAILURE:
        case ERROR_BAD_COMMAND: return ENODEV;
        case ERROR_TIMEOUT: return ETIMEDOUT;
        default: return EIO;
    }
}

int failure() { return -errnoOf(::GetLastError()); }

class WindowsHid final : public Device {
public:
    WindowsHid(HANDLE handle, const HIDP_CAPS& caps)
        : handle_(handle),
          input_(std::max<std::size_t>(caps.InputReportByteLength, 2)),
          output_(std::max<std::size_t>(caps.OutputReportByteLength, 2)),
          feature_(std::max<std::size_t>(caps.FeatureReportByteLength, 2)),
          readBuffer_(input_) {
        reading_.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        writing_.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ~WindowsHid() override {
        if (pending_) {
            ::CancelIo(handle_);
            DWORD ignored = 0;
            ::GetOverlappedResult(handle_, &reading_, &ignored, TRUE);
        }
        ::CloseHandle(reading_.hEvent);
        ::CloseHandle(writing_.hEvent);
        ::CloseHandle(handle_);
    }

    int getFeature(std::uint8_t* data, std::size_t size) override {
        std::vector<std::uint8_t> buffer(std::max(feature_, size), 0);
        buffer[0] = data[0];
        if (!::HidD_GetFeature(handle_, buffer.data(), static_cast<ULONG>(feature_))) return failure();
        const std::size_t n = std::min(size, feature_);
        std::memcpy(data, buffer.data(), n);
        return static_cast<int>(n);
    }
    int setFeature(const std::uint8_t* data, std::size_t size) override {
        std::vector<std::uint8_t> buffer(std::max(feature_, size), 0);
        std::memcpy(buffer.data(), data, size);
        if (!::HidD_SetFeature(handle_, buffer.data(), static_cast<ULONG>(feature_))) return failure();
        return static_cast<int>(size);
    }
    int write(const std::uint8_t* data, std::size_t size) override {
        std::vector<std::uint8_t> buffer(std::max(output_, size), 0);
        std::memcpy(buffer.data(), data, size);
        ::ResetEvent(writing_.hEvent);
        DWORD written = 0;
        if (!::WriteFile(handle_, buffer.data(), static_cast<DWORD>(output_), nullptr, &writing_) &&
            ::GetLastError() != ERROR_IO_PENDING) {
            return failure();
        }
        if (::WaitForSingleObject(writing_.hEvent, 1000) != WAIT_OBJECT_0) {
            ::CancelIo(handle_);
            ::GetOverlappedResult(handle_, &writing_, &written, TRUE);
            return -ETIMEDOUT;
        }
        if (!::GetOverlappedResult(handle_, &writing_, &written, FALSE)) return failure();
        return static_cast<int>(std::min<std::size_t>(size, written));
    }
    // A read that times out stays pending, so that a report arriving later is
    // the next one returned, not lost.
    int read(std::uint8_t* data, std::size_t size, int timeoutMs) override {
        if (!pending_) {
            ::ResetEvent(reading_.hEvent);
            if (!::ReadFile(handle_, readBuffer_.data(), static_cast<DWORD>(input_), nullptr, &reading_) &&
                ::GetLastError() != ERROR_IO_PENDING) {
                return failure();
            }
            pending_ = true;
        }
        if (::WaitForSingleObject(reading_.hEvent, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) return 0;
        pending_ = false;
        DWORD got = 0;
        if (!::GetOverlappedResult(handle_, &reading_, &got, FALSE)) return failure();
        const std::size_t n = std::min<std::size_t>(size, got);
        std::memcpy(data, readBuffer_.data(), n);
        return static_cast<int>(n);
    }

private:
    HANDLE handle_;
    std::size_t input_, output_, feature_;
    std::vector<std::uint8_t> readBuffer_;
    OVERLAPPED reading_{};
    OVERLAPPED writing_{};
    bool pending_ = false;
};

std::string hidString(HANDLE handle, BOOLEAN(__stdcall* get)(HANDLE, PVOID, ULONG)) {
    wchar_t text[128] = {};
    if (!get(handle, text, sizeof text - sizeof(wchar_t))) return {};
    return narrow(text);
}

}  // namespace

std::vector<DeviceInfo> devices(std::uint16_t vendor, std::uint16_t product) {
    std::vector<DeviceInfo> found;
    GUID guid;
    ::HidD_GetHidGuid(&guid);
    HDEVINFO set = ::SetupDiGetClassDevsW(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return found;
    for (DWORD i = 0;; ++i) {
        SP_DEVICE_INTERFACE_DATA entry{};
        entry.cbSize = sizeof entry;
        if (!::SetupDiEnumDeviceInterfaces(set, nullptr, &guid, i, &entry)) break;
        DWORD needed = 0;
        ::SetupDiGetDeviceInterfaceDetailW(set, &entry, nullptr, 0, &needed, nullptr);
        if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) continue;
        std::vector<std::uint8_t> buffer(needed);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (!::SetupDiGetDeviceInterfaceDetailW(set, &entry, detail, needed, nullptr, nullptr)) continue;
        // No access asked: identity can be read while another program has it open.
        HANDLE handle = ::CreateFileW(detail->DevicePath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
        if (handle == INVALID_HANDLE_VALUE) continue;
        HIDD_ATTRIBUTES attributes{};
        attributes.Size = sizeof attributes;
        if (::HidD_GetAttributes(handle, &attributes) && attributes.VendorID == vendor && attributes.ProductID == product) {
            DeviceInfo info;
            info.path = narrow(detail->DevicePath);
            info.vendor = vendor;
            info.product = product;
            info.serial = hidString(handle, ::HidD_GetSerialNumberString);
            info.name = hidString(handle, ::HidD_GetProductString);
            info.node = "HID device " + std::to_string(i);
            found.push_back(std::move(info));
        }
        ::CloseHandle(handle);
    }
    ::SetupDiDestroyDeviceInfoList(set);
    return found;
}

Opened open(const std::string& path) {
    HANDLE handle = ::CreateFileW(widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        return {nullptr, errnoOf(error), systemMessage(error)};
    }
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    HIDP_CAPS caps{};
    if (!::HidD_GetPreparsedData(handle, &preparsed) || ::HidP_GetCaps(preparsed, &caps) != HIDP_STATUS_SUCCESS) {
        const DWORD error = ::GetLastError();
        if (preparsed != nullptr) ::HidD_FreePreparsedData(preparsed);
        ::CloseHandle(handle);
        return {nullptr, errnoOf(error), "not a HID device: " + systemMessage(error)};
    }
    ::HidD_FreePreparsedData(preparsed);
    return {std::make_unique<WindowsHid>(handle, caps), 0, {}};
}

std::string accessFix() { return "another program has it open for itself: close that program"; }

}  // namespace platform::hid
