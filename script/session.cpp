#include "script/session.h"

#include "ports/trace_port.h"

#include <utility>

namespace script {

std::unique_ptr<commands::Program> Session::makeProgram() const {
    auto made = descriptor->make(*port.port);
    made->setAddress(request.address);
    made->setCheckAck(programChecksAck());
    if (descriptor->load != nullptr) descriptor->load(*made);
    return made;
}

void Session::attach(Executor& executor) const {
    if (ports::TracePort* trace = port.trace; trace != nullptr) {
        executor.setActionListener([trace](const std::string& action) { trace->setAction(action); });
    }
    if (port.carriesTransactions()) executor.setKernelRecovers(port.label);
}

Session openSession(const commands::Descriptor& descriptor, SessionRequest request) {
    ports::ProgramPort port = ports::openProgramPort(request.port, request.trace);
    Session session{&descriptor, std::move(request), std::move(port), nullptr};
    if (session.port.trace != nullptr && session.request.address != commands::Program::kDefaultAddress) {
        session.port.trace->setDeviceAddress(session.request.address);
    }
    session.program = session.makeProgram();
    return session;
}

}  // namespace script
