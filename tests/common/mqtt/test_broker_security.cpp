// Broker log-in and TLS on the link both programs use, against a real
// mosquitto with a password file and a TLS listener on loopback.
#include "broker_security.h"
#include "client_security.h"
#include "ini_store.h"
#include "mosquitto_broker.h"
#include "mqtt_test_util.h"
#include "mqtt_transmit.h"
#include "temp_dir.h"

#include <QSignalSpy>
#include <QStringList>
#include <gtest/gtest.h>
#include <memory>

using namespace halden::test;

namespace {

const QString kTopic = QStringLiteral("halden/locked");
const std::string kUser = "board-7";
const std::string kPassword = "s3cret-\xC3\xA9t\xC3\xA9";  // non-ASCII on purpose

// Every diagnostic line the code under test writes.
QStringList g_lines;
void collect(QtMsgType, const QMessageLogContext &, const QString &text)
{
    g_lines << text;
}

struct Listener {
    enum Kind { Login, Tls, TlsAndLogin };
};

struct Case {
    const char *name;
    Listener::Kind listener;
    const char *user;      // "" none
    const char *password;  // "" none; "right" = kPassword
    const char *caFile;    // "", "ca" (the signer), "other" (an untrusted CA), "missing"
    bool lands;
    QMQTT::ClientError error;  // what the link reports when it does not land
};

const Case kCases[] = {
    {"RightLogin", Listener::Login, "board-7", "right", "", true, QMQTT::UnknownError},
    {"WrongPassword", Listener::Login, "board-7", "wrong", "", false, QMQTT::MqttNotAuthorizedError},
    {"NoLogin", Listener::Login, "", "", "", false, QMQTT::MqttNotAuthorizedError},
    {"TrustedCertificate", Listener::Tls, "", "", "ca", true, QMQTT::UnknownError},
    {"UntrustedCertificate", Listener::Tls, "", "", "other", false, QMQTT::SocketSslHandshakeFailedError},
    {"MissingCaFile", Listener::Tls, "", "", "missing", false, QMQTT::SocketSslHandshakeFailedError},
    {"PlainTcpToTls", Listener::Tls, "", "", "", false, QMQTT::UnknownError},
    {"TlsAndRightLogin", Listener::TlsAndLogin, "board-7", "right", "ca", true, QMQTT::UnknownError},
    {"TlsAndWrongLogin", Listener::TlsAndLogin, "board-7", "wrong", "ca", false, QMQTT::MqttNotAuthorizedError},
};

class LockedBroker : public ::testing::TestWithParam<Case> {
protected:
    static void SetUpTestSuite() { certs = new BrokerCertificates; }
    static void TearDownTestSuite()
    {
        delete certs;
        certs = nullptr;
    }
    void SetUp() override
    {
        ASSERT_TRUE(certs->ok()) << certs->error();
        g_lines.clear();
        previous = qInstallMessageHandler(collect);
    }
    void TearDown() override { qInstallMessageHandler(previous); }

    static BrokerCertificates *certs;
    QtMessageHandler previous = nullptr;
};

BrokerCertificates *LockedBroker::certs = nullptr;

} // namespace

TEST_P(LockedBroker, LandsOnlyWithTheRightCredentialsAndSaysWhyOtherwise)
{
    const Case &c = GetParam();
    MosquittoBroker broker(MosquittoBroker::Deferred);
    std::string options;
    if (c.listener != Listener::Tls) {
        const std::string passwd = certs->passwordFile(kUser, kPassword);
        ASSERT_FALSE(passwd.empty());
        options += "password_file " + passwd + "\n";
        broker.setAllowAnonymous(false);
    }
    if (c.listener != Listener::Login)
        options += certs->tlsListenerOptions();
    broker.setListenerOptions(options);
    ASSERT_TRUE(broker.start()) << broker.logText() << broker.outputText();

    BrokerSecurity security;
    security.user = QString::fromUtf8(c.user);
    const std::string password = std::string(c.password) == "right" ? kPassword : c.password;
    security.password = QString::fromStdString(password);
    const std::string ca = c.caFile;
    security.caFile = ca == "ca" ? QString::fromStdString(certs->caFile())
        : ca == "other"          ? QString::fromStdString(certs->otherCaFile())
        : ca == "missing"        ? QStringLiteral("/nonexistent/ca.crt")
                                 : QString();

    MqttTransmit link(QHostAddress(QHostAddress::LocalHost), broker.port(), kTopic, nullptr);
    applyBrokerSecurity(link, security);
    QSignalSpy received(&link, &MqttTransmit::SignalMqttReceived);
    QSignalSpy errors(&link, &QMQTT::Client::error);
    link.connectToHost();

    const std::string subscribed = link.clientId().toStdString() + " 1 " + kTopic.toStdString();
    if (c.lands) {
        ASSERT_TRUE(waitUntil([&] { return broker.countInLog(subscribed) >= 1; }, 8000)) << broker.logText();
        // The broker's own clients use the same credentials to publish.
        MqttTransmit sender(QHostAddress(QHostAddress::LocalHost), broker.port(), QStringLiteral("halden/other"),
                            nullptr);
        applyBrokerSecurity(sender, security);
        QSignalSpy up(&sender, &QMQTT::Client::connected);
        sender.connectToHost();
        ASSERT_TRUE(waitUntil([&] { return up.count() >= 1; }, 8000));
        sender.publish(QMQTT::Message(0, kTopic, "hello", 0));
        ASSERT_TRUE(waitUntil([&] { return received.count() == 1; }, 5000));
        if (!security.user.isEmpty()) {
            EXPECT_NE(broker.logText().find("u'" + kUser + "'"), std::string::npos) << broker.logText();
        }
    } else {
        // Three watchdog rounds: it keeps retrying, never lands, and says why once.
        spin(3500);
        EXPECT_EQ(broker.countInLog(subscribed), 0u);
        EXPECT_FALSE(link.isConnectedToHost());
        if (c.error != QMQTT::UnknownError) {
            ASSERT_GE(errors.count(), 2) << "retried on the timer";
            bool seen = false;
            for (const QList<QVariant> &e : errors)
                seen = seen || e.at(0).value<QMQTT::ClientError>() == c.error;
            EXPECT_TRUE(seen);
            const QString why = QMQTT::errorText(c.error);
            EXPECT_EQ(g_lines.filter(why).size(), 1) << g_lines.join('\n').toStdString();
        }
    }
    // No secret in any output: diagnostic lines, the broker's log and output.
    const std::string diagnostics = g_lines.join('\n').toStdString();
    if (!password.empty()) {
        EXPECT_EQ(diagnostics.find(password), std::string::npos);
        EXPECT_EQ(broker.logText().find(password), std::string::npos);
        EXPECT_EQ(broker.outputText().find(password), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, LockedBroker, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case> &info) { return std::string(info.param.name); });

// What a settings file with this text holds for the broker link.
static BrokerSecurity securityFrom(const TempDir &dir, const std::string &text)
{
    const std::string path = dir.file("settings.ini");
    writeFile(path, text);
    EXPECT_TRUE(IniLoad(path.c_str()));
    const BrokerSecurity security = readBrokerSecurity();
    IniClose();
    return security;
}

// The three keys are optional: a file without them reads as no log-in and
// no TLS (the link then connects exactly as before), and the values are
// taken as written.
TEST(BrokerSecuritySettings, ReadFromGeneralAndEmptyWhenMissing)
{
    TempDir dir;
    struct Row {
        const char *file;
        const char *user, *password, *ca;
    } rows[] = {
        {"[General]\r\nHost=127.0.0.1\r\nPort=1883\r\n", "", "", ""},
        {"[General]\r\nMqttUser=op\r\nMqttPassword=p=w x\r\nMqttCaFile=certs/ca.crt\r\n", "op", "p=w x",
         "certs/ca.crt"},
        {"[Other]\r\nMqttUser=op\r\n", "", "", ""},
    };
    for (const Row &r : rows) {
        const BrokerSecurity s = securityFrom(dir, r.file);
        EXPECT_EQ(s.user.toStdString(), r.user) << r.file;
        EXPECT_EQ(s.password.toStdString(), r.password) << r.file;
        EXPECT_EQ(s.caFile.toStdString(), r.ca) << r.file;
    }
}

// What weakens a program's link without a word otherwise gets one line each
// when the link is set up: "MqttCaFile=" left empty (plain TCP where TLS was
// meant) and a broker password that goes without TLS. Never the password.
TEST(BrokerSecuritySettings, WeakeningsAreSaidOnceWhenTheLinkIsSetUp)
{
    TempDir dir;
    struct Row {
        const char *name;
        const char *file;
        const char *emptyCaLine;    // "" when none is expected
        const char *plainTcpLine;
    } rows[] = {
        {"nothing set", "[General]\r\nHost=127.0.0.1\r\n", "", ""},
        {"empty CA", "[General]\r\nMqttCaFile=\r\n", "MqttCaFile is empty", ""},
        {"empty CA and a password", "[General]\r\nMqttUser=op\r\nMqttPassword=Pw-Xyz\r\nMqttCaFile=\r\n",
         "MqttCaFile is empty", "The broker password goes over plain TCP"},
        {"password, no CA", "[General]\r\nMqttUser=op\r\nMqttPassword=Pw-Xyz\r\n", "",
         "The broker password goes over plain TCP"},
        {"password with TLS", "[General]\r\nMqttUser=op\r\nMqttPassword=Pw-Xyz\r\nMqttCaFile=ca.crt\r\n", "", ""},
    };
    const QtMessageHandler before = qInstallMessageHandler(collect);
    for (const Row &r : rows) {
        const BrokerSecurity s = securityFrom(dir, r.file);
        g_lines.clear();
        QMQTT::Client client;
        applyBrokerSecurity(client, s);
        const int expected = (*r.emptyCaLine ? 1 : 0) + (*r.plainTcpLine ? 1 : 0);
        EXPECT_EQ(g_lines.size(), expected) << r.name << ": " << g_lines.join('\n').toStdString();
        if (*r.emptyCaLine) {
            EXPECT_EQ(g_lines.filter(r.emptyCaLine).size(), 1) << r.name;
        }
        if (*r.plainTcpLine) {
            EXPECT_EQ(g_lines.filter(r.plainTcpLine).size(), 1) << r.name;
        }
        EXPECT_EQ(g_lines.join('\n').toStdString().find("Pw-Xyz"), std::string::npos) << r.name;
    }
    qInstallMessageHandler(before);
}
