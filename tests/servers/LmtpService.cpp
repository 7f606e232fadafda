#include "tests/servers/LmtpService.h"

#include "tests/servers/BrevaloWorld.h"
#include "tests/servers/MailUser.h"
#include "tests/servers/ProgramRun.h"

#include <stdexcept>

LmtpService::LmtpService(std::string socketPath, std::vector<std::string> options, bool asRoot)
    : path(std::move(socketPath)), options(std::move(options)), asRoot(asRoot) {}

LmtpService::~LmtpService() {
    kill();
}

LmtpService& LmtpService::set(const std::string& variable, const std::string& value) {
    variables[variable] = value;
    return *this;
}

void LmtpService::start() {
    std::vector<std::string> arguments;
    const MailUser& user = MailUser::get();
    if (!asRoot && user.switches())
        arguments = {ProgramRun::find("setpriv"), "--reuid=" + std::to_string(user.uid),
                     "--regid=" + std::to_string(user.gid), "--clear-groups"};
    arguments.push_back(ProgramRun::find("env"));
    for (const auto& [name, value] : variables)
        arguments.push_back(name + "=" + value);
    for (const std::string& argument :
         {BrevaloWorld::program(), std::string("lmtp"), std::string("--socket"), path})
        arguments.push_back(argument);
    arguments.insert(arguments.end(), options.begin(), options.end());
    kill();
    run = std::make_unique<ServiceRun>(arguments);
    // Its first line says where it listens, or why it cannot.
    if (!run->waitFor(
            [](const std::string& output) { return output.find('\n') != std::string::npos; }) ||
        run->output().find("listening on") == std::string::npos) {
        std::string why = run->output();
        kill();
        throw std::runtime_error("brevalo-cli lmtp did not start: " + why);
    }
}

std::string LmtpService::output() {
    return run ? text + run->output() : text;
}

void LmtpService::kill() {
    if (run) {
        run->stop(SIGKILL);
        text += run->output();
        run.reset();
    }
}

int LmtpService::stop() {
    if (!run)
        return -1;
    int status = run->stop(SIGTERM);
    text += run->output();
    run.reset();
    return status;
}
