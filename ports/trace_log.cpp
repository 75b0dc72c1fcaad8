// .log: one line per port access, "out 0x378 0xf3" or "in 0x379 0x0077".
#include "ports/trace_format.h"

namespace ports {
namespace {

class AccessLog final : public TraceFormat {
public:
    void access(TraceOut& out, const TraceAccess& a) override {
        if (a.read) {
            out.put("in 0x%x 0x%04x\n", a.port, a.value);
        } else {
            out.put("out 0x%x 0x%02x\n", a.port, a.value);
        }
    }
};

}  // namespace

const TraceFormatEntry kAccessTrace{".log", "one line per port access",
                                    []() -> std::unique_ptr<TraceFormat> { return std::make_unique<AccessLog>(); }};

}  // namespace ports
