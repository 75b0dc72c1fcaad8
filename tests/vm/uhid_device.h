// A HID model served through /dev/uhid, for a kernel driver (or hidraw) to
// bind to in the test VM: output reports and feature requests reach the model,
// its input reports go back to the kernel. uhid hands over the report number
// of an unnumbered device's hidraw writes (0) as the first byte, and the
// kernel's own driver none; the models take both. Every change of the levels
// the host drives on the model's GPIO bus goes to the log, "SCL SDA /SHDN".
#pragma once

#include "hid_models.h"

#include <linux/uhid.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace vm {

// The transactions the model's I2C engine carries go to PX_ENGINE_LOG where it
// is set, one "w 2c 00 4d" or "r 2c 4d" a line.
inline int serveUhid(const char* name, const char* serial, std::uint16_t vendor, std::uint16_t product,
                     const std::vector<std::uint8_t>& descriptor, bool numbered, models::HidModel& model,
                     std::FILE* log) {
    const char* engineLogPath = std::getenv("PX_ENGINE_LOG");
    std::FILE* engineLog = engineLogPath != nullptr ? std::fopen(engineLogPath, "a") : nullptr;
    const int fd = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        std::perror("uhid: /dev/uhid");
        return 1;
    }
    model.onPins = [log](bus::LineLevels now) {
        if (log == nullptr) return;
        std::fprintf(log, "%d %d %d\n", now.scl() ? 1 : 0, now.sda() ? 1 : 0, now.shdn() ? 1 : 0);
        std::fflush(log);
    };
    uhid_event create{};
    create.type = UHID_CREATE2;
    std::snprintf(reinterpret_cast<char*>(create.u.create2.name), sizeof create.u.create2.name, "%s", name);
    std::snprintf(reinterpret_cast<char*>(create.u.create2.uniq), sizeof create.u.create2.uniq, "%s", serial);
    create.u.create2.rd_size = static_cast<std::uint16_t>(descriptor.size());
    std::memcpy(create.u.create2.rd_data, descriptor.data(), descriptor.size());
    create.u.create2.bus = 0x03;  // BUS_USB
    create.u.create2.vendor = vendor;
    create.u.create2.product = product;
    if (::write(fd, &create, sizeof create) < 0) {
        std::perror("uhid: UHID_CREATE2");
        return 1;
    }
    // The model's input reports, without the report number an unnumbered device does not send.
    auto flush = [&] {
        while (!model.inputs.empty()) {
            const auto report = model.inputs.front();
            model.inputs.pop_front();
            uhid_event ev{};
            ev.type = UHID_INPUT2;
            const std::size_t skip = numbered ? 0 : 1;
            ev.u.input2.size = static_cast<std::uint16_t>(report.size() - skip);
            std::memcpy(ev.u.input2.data, report.data() + skip, report.size() - skip);
            if (::write(fd, &ev, sizeof ev) < 0) std::perror("uhid: input");
        }
    };
    uhid_event ev{};
    for (;;) {
        const ssize_t got = ::read(fd, &ev, sizeof ev);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        if (ev.type == UHID_OUTPUT) {
            model.output(ev.u.output.data, ev.u.output.size);
            flush();
            for (const auto& line : model.engineLog) {
                if (engineLog != nullptr) std::fprintf(engineLog, "%s\n", line.c_str());
            }
            if (engineLog != nullptr) std::fflush(engineLog);
            model.engineLog.clear();
        } else if (ev.type == UHID_GET_REPORT) {
            const auto report = model.getFeature(ev.u.get_report.rnum);
            uhid_event reply{};
            reply.type = UHID_GET_REPORT_REPLY;
            reply.u.get_report_reply.id = ev.u.get_report.id;
            reply.u.get_report_reply.err = report.empty() ? EIO : 0;
            reply.u.get_report_reply.size = static_cast<std::uint16_t>(report.size());
            std::memcpy(reply.u.get_report_reply.data, report.data(), report.size());
            if (::write(fd, &reply, sizeof reply) < 0) std::perror("uhid: get report");
        } else if (ev.type == UHID_SET_REPORT) {
            model.setFeature(ev.u.set_report.data, ev.u.set_report.size);
            uhid_event reply{};
            reply.type = UHID_SET_REPORT_REPLY;
            reply.u.set_report_reply.id = ev.u.set_report.id;
            if (::write(fd, &reply, sizeof reply) < 0) std::perror("uhid: set report");
        }
    }
    return 0;
}

}  // namespace vm
