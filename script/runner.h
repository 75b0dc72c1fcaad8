// Runs actions one after another on one program and prints what they did: the
// byte a read-back read, or with json one object per action; a failure to err.
#pragma once

#include "ports/backend.h"
#include "script/executor.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

namespace script {

class Runner {
public:
    Runner(commands::Program& program, std::ostream& out, std::ostream& err, bool json)
        : executor_(program), out_(out), err_(err), json_(json) {}

    // False once the port has failed, or the output could not be written: a
    // port failure is printed, naming the action, what of it reached the port
    // and how many ran before it; no further action should run.
    bool run(const Action& action);
    std::size_t ran() const { return ran_; }

    // A line not run (or the command line's actions refused): said on err after
    // where, and with json as an object on out too. False if out failed.
    bool refused(std::size_t line, const std::string& error);

    // The errno of the first write to out that failed (a full disk, a closed
    // descriptor), or 0: what a script reads is part of the result.
    int outputError() const { return outputError_; }

    Executor& executor() { return executor_; }

    // Said after "pxctl: " in every message about an action: "line 3: ".
    void setWhere(std::string where) { where_ = std::move(where); }

    // What the port can tell of itself once open (an I2C adapter's name and
    // path), added to every JSON object as "adapter" and "transfers".
    void setPortDetails(std::function<std::optional<ports::PortDetails>()> details) { details_ = std::move(details); }
    // A device address other than the default ("0x2d"), added to every JSON
    // object as "address".
    void setAddress(std::string address) { address_ = std::move(address); }

private:
    bool flushOutput();
    std::string withDetails(std::string line) const;

    Executor executor_;
    std::ostream& out_;
    std::ostream& err_;
    bool json_;
    std::size_t ran_ = 0;
    int outputError_ = 0;
    std::string where_;
    std::function<std::optional<ports::PortDetails>()> details_;
    std::string address_;
};

}  // namespace script
