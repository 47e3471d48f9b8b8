// TLS material and password files for a locked-down test broker.
#include "mosquitto_broker.h"
#include "run_program.h"
#include "temp_dir.h"

namespace halden::test {

namespace {

// openssl with a one-line reason on failure.
bool openssl(const std::vector<std::string> &args, const std::string &dir, std::string &error)
{
    std::vector<std::string> command{"/usr/bin/openssl"};
    command.insert(command.end(), args.begin(), args.end());
    const ProgramResult r = runProgram(command, {"RANDFILE=" + dir + "/.rnd"}, 30000);
    if (r.exitCode != 0) {
        error = "openssl " + args.front() + " failed: " + r.err;
        return false;
    }
    return true;
}

bool makeCa(const TempDir &dir, const std::string &name, std::string &error)
{
    return openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                    "/CN=Halden test " + name, "-keyout", dir.file(name + ".key"), "-out",
                    dir.file(name + ".crt")},
                   dir.path(), error);
}

} // namespace

BrokerCertificates::BrokerCertificates()
    : dir_(std::make_unique<TempDir>("halden-certs"))
{
    const TempDir &d = *dir_;
    writeFile(d.file("server.ext"), "subjectAltName=IP:127.0.0.1\n");
    ok_ = makeCa(d, "ca", error_) && makeCa(d, "other-ca", error_)
        && openssl({"req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1", "-keyout",
                    d.file("server.key"), "-out", d.file("server.csr")},
                   d.path(), error_)
        && openssl({"x509", "-req", "-in", d.file("server.csr"), "-CA", d.file("ca.crt"), "-CAkey",
                    d.file("ca.key"), "-CAcreateserial", "-days", "2", "-extfile", d.file("server.ext"),
                    "-out", d.file("server.crt")},
                   d.path(), error_);
}

BrokerCertificates::~BrokerCertificates() = default;

std::string BrokerCertificates::caFile() const
{
    return dir_->file("ca.crt");
}

std::string BrokerCertificates::otherCaFile() const
{
    return dir_->file("other-ca.crt");
}

std::string BrokerCertificates::tlsListenerOptions() const
{
    return "cafile " + caFile() + "\ncertfile " + dir_->file("server.crt") + "\nkeyfile "
        + dir_->file("server.key") + "\n";
}

std::string BrokerCertificates::passwordFile(const std::string &user, const std::string &password) const
{
    const std::string path = dir_->file("passwd-" + user);
    writeFile(path, user + ":" + password + "\n");
    const ProgramResult r = runProgram({"/usr/bin/mosquitto_passwd", "-U", path}, {}, 30000);
    return r.exitCode == 0 ? path : std::string();
}

} // namespace halden::test
