#include "mosquitto_broker.h"

#include "temp_dir.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace halden::test {

namespace {

const char *const kBrokerProgram = "/usr/sbin/mosquitto";
const char *const kSubProgram = "/usr/bin/mosquitto_sub";
const char *const kPubProgram = "/usr/bin/mosquitto_pub";

using Clock = std::chrono::steady_clock;

void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Starts argv[0] with stdout and stderr going to outPath. The child closes
// every inherited descriptor: a test's client socket kept open in a broker
// child would stop that connection from ever closing. It also dies with the
// test process, so a crashed test leaves nothing running.
pid_t spawn(const std::vector<std::string> &args, const std::string &outPath)
{
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);

    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid != 0)
        return pid; // parent, or -1 on failure

    // Child: only async-signal-safe calls from here on.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent)
        _exit(126);
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    const int null = open("/dev/null", O_RDONLY);
    if (out < 0 || null < 0)
        _exit(126);
    dup2(null, 0);
    dup2(out, 1);
    dup2(out, 2);
    if (syscall(SYS_close_range, 3U, ~0U, 0U) != 0) {
        for (int fd = 3; fd < 65536; ++fd)
            close(fd);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

// True when pid has ended (and is reaped); exitCode gets its status.
bool reaped(pid_t pid, int *exitCode = nullptr)
{
    int status = 0;
    const pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid || (r < 0 && errno == ECHILD)) {
        if (exitCode)
            *exitCode = (r == pid && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
        return true;
    }
    return false;
}

bool waitExit(pid_t pid, int timeoutMs, int *exitCode = nullptr)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (reaped(pid, exitCode))
            return true;
        if (Clock::now() >= deadline)
            return false;
        sleepMs(10);
    }
}

void terminate(pid_t &pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    if (!waitExit(pid, 3000)) {
        kill(pid, SIGKILL);
        waitExit(pid, 3000);
    }
    pid = -1;
}

bool acceptsConnections(uint16_t port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
}

std::string fromHex(const std::string &hex)
{
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::string uniqueSuffix()
{
    static std::atomic<unsigned> counter{0};
    return std::to_string(getpid()) + "-" + std::to_string(counter++);
}

} // namespace

uint16_t freeLoopbackPort()
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = 0;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    uint16_t port = 0;
    if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0
        && getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    close(fd);
    return port;
}

// ---------------------------------------------------------------- broker

MosquittoBroker::MosquittoBroker(StartMode mode)
    : dir_(std::make_unique<TempDir>("halden-mosquitto"))
{
    port_ = freeLoopbackPort();
    if (mode == Deferred)
        return;
    // Another test may grab the port between choosing and binding it; a first
    // start may therefore move to a fresh port.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (start())
            return;
        port_ = freeLoopbackPort();
    }
}

MosquittoBroker::~MosquittoBroker()
{
    stop();
}

std::string MosquittoBroker::logPath() const
{
    return dir_->file("mosquitto.log");
}

std::string MosquittoBroker::persistenceFile() const
{
    return dir_->file("mosquitto.db");
}

std::string MosquittoBroker::logText() const
{
    return readFile(logPath());
}

std::string MosquittoBroker::outputText() const
{
    return readFile(dir_->file("mosquitto.out"));
}

size_t MosquittoBroker::countInLog(const std::string &needle) const
{
    const std::string text = logText();
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++n;
    return n;
}

bool MosquittoBroker::waitForLog(const std::string &needle, int timeoutMs) const
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (logText().find(needle) != std::string::npos)
            return true;
        if (Clock::now() >= deadline)
            return false;
        sleepMs(20);
    }
}

bool MosquittoBroker::start()
{
    if (running())
        return true;
    if (!launch()) {
        stop();
        return false;
    }
    return true;
}

bool MosquittoBroker::launch()
{
    std::ostringstream conf;
    // "user root" keeps a broker started by root from dropping to a user that
    // cannot write the log in our private folder; without root it is ignored.
    conf << "user root\n"
         << "listener " << port_ << " 127.0.0.1\n"
         << listenerOptions_
         << "allow_anonymous " << (allowAnonymous_ ? "true" : "false") << "\n"
         << (persistent_ ? "persistence true\npersistence_location " + dir_->path() +
                               "/\nautosave_interval 1\nautosave_on_changes true\n"
                         : std::string("persistence false\n"))
         << "log_dest file " << logPath() << "\n"
         << (quietLog_ ? "log_type error\nlog_type warning\nlog_type notice\nlog_type information\n"
                       : "log_type all\n")
         << "connection_messages true\n"
         << "log_timestamp true\n";
    const std::string confPath = dir_->file("mosquitto.conf");
    writeFile(confPath, conf.str());

    pid_ = spawn({kBrokerProgram, "-c", confPath}, dir_->file("mosquitto.out"));
    if (pid_ <= 0)
        return false;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < deadline) {
        if (reaped(pid_)) {
            pid_ = -1;
            return false;
        }
        if (acceptsConnections(port_))
            return true;
        sleepMs(20);
    }
    return false;
}

void MosquittoBroker::stop()
{
    terminate(pid_);
}

void MosquittoBroker::kill()
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGKILL);
    waitExit(pid_, 3000);
    pid_ = -1;
}

// ------------------------------------------------------------ subscriber

MosquittoSubscriber::MosquittoSubscriber(const MosquittoBroker &broker, const std::string &topic,
                                         int qos)
    : broker_(broker)
    , dir_(std::make_unique<TempDir>("halden-mqttsub"))
    , clientId_("halden-sub-" + uniqueSuffix())
{
    // -W is only a safety net; the destructor ends it long before.
    pid_ = spawn({kSubProgram, "-h", broker.host(), "-p", std::to_string(broker.port()),
                  "-t", topic, "-q", std::to_string(qos), "-i", clientId_, "-W", "120",
                  "-F", "MSG\t%t\t%q\t%r\t%x"},
                 dir_->file("out.txt"));
}

MosquittoSubscriber::~MosquittoSubscriber()
{
    stop();
}

void MosquittoSubscriber::stop()
{
    terminate(pid_);
}

bool MosquittoSubscriber::ready() const
{
    return pid_ > 0 && broker_.waitForLog("Sending SUBACK to " + clientId_, 5000);
}

std::vector<MqttReceived> MosquittoSubscriber::messages() const
{
    std::vector<MqttReceived> out;
    std::istringstream in(readFile(dir_->file("out.txt")));
    std::string line;
    while (std::getline(in, line)) {
        // Only complete records (a line still being written has no end yet):
        // MSG, topic, qos, retain, hex payload.
        if (in.eof())
            break;
        if (line.empty())
            continue;
        std::vector<std::string> fields;
        std::istringstream parts(line);
        std::string f;
        while (std::getline(parts, f, '\t'))
            fields.push_back(f);
        if (fields.size() == 4 && line.back() == '\t')
            fields.push_back("");
        if (fields.size() != 5 || fields[0] != "MSG")
            continue;
        MqttReceived m;
        m.topic = fields[1];
        m.qos = std::atoi(fields[2].c_str());
        m.retain = fields[3] == "1";
        m.payload = fromHex(fields[4]);
        out.push_back(m);
    }
    return out;
}

bool MosquittoSubscriber::waitForMessages(size_t count, int timeoutMs) const
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (messages().size() >= count)
            return true;
        if (Clock::now() >= deadline)
            return false;
        sleepMs(20);
    }
}

// --------------------------------------------------------------- publish

bool mosquittoPublish(uint16_t port, const std::string &topic, const std::string &payload,
                      int qos, bool retain)
{
    std::vector<std::string> args{kPubProgram, "-h", "127.0.0.1", "-p", std::to_string(port),
                                  "-t", topic, "-q", std::to_string(qos)};
    if (payload.empty()) {
        args.push_back("-n");
    } else {
        args.push_back("-m");
        args.push_back(payload);
    }
    if (retain)
        args.push_back("-r");
    TempDir dir("halden-mqttpub");
    pid_t pid = spawn(args, dir.file("out.txt"));
    if (pid <= 0)
        return false;
    int code = -1;
    if (!waitExit(pid, 5000, &code)) {
        terminate(pid);
        return false;
    }
    return code == 0;
}

} // namespace halden::test
