// OpenVPN's output and management prompts on arbitrary bytes, and our answers with arbitrary credentials: the
// output reading stays within its known values, and an answer is always one management line whose value is
// quoted and escaped, so that nothing in a user name or password can end it or add a command.
#include "privileged/openvpnmessages.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void check(bool condition)
{
    if (!condition)
        abort();
}

void checkOutput(const QByteArray &chunk)
{
    const OpenVPNMessages::Output output = OpenVPNMessages::readOutput(chunk);
    check(output.text.size() <= chunk.size() && !output.text.contains(QChar(0)));
    check(output.error >= OpenVPN::NoError && output.error <= OpenVPN::NoInterfaceError
        && output.error != OpenVPN::ManagementError);
    int previous = 0;
    for (const int progress : output.progress) {
        check(progress > previous && progress <= 80 && progress % 20 == 0);
        previous = progress;
    }
    check(output.gatewayPushed || output.gateway.isNull());
    const int dnsOptions = output.text.count(QLatin1String("dhcp-option DNS "));
    check(output.dnsServers.size() <= dnsOptions);
    for (int i = 0; i < output.dnsServers.size(); ++i) {
        check(output.dnsServers.at(i).protocol() == QAbstractSocket::IPv4Protocol);
        check(output.dnsServers.indexOf(output.dnsServers.at(i)) == i);
    }
}

// Reads back the quoted value of an answer line as OpenVPN would: checks the line's shape on the way.
QByteArray valueOfAnswerLine(const QByteArray &line, const QByteArray &prefix)
{
    check(line.startsWith(prefix + '"') && line.endsWith("\"\r\n") && line.size() >= prefix.size() + 4);
    check(line.indexOf('\n') == line.size() - 1 && line.indexOf('\r') == line.size() - 2);
    QByteArray value;
    const int end = line.size() - 3;
    for (int i = prefix.size() + 1; i < end; ++i) {
        char c = line.at(i);
        check(c != '"');
        if (c == '\\') {
            check(++i < end);
            c = line.at(i);
            check(c == '\\' || c == '"');
        }
        value += c;
    }
    return value;
}

void checkAnswerLine(const QString &value)
{
    const QByteArray line = OpenVPNMessages::answerLine("password", "Auth", value);
    const QByteArray written = valueOfAnswerLine(line, "password \"Auth\" ");
    const QByteArray local = value.toLocal8Bit();
    check(local.startsWith(written));
    // Cut only at a line break.
    if (written.size() < local.size())
        check(local.at(written.size()) == '\n' || local.at(written.size()) == '\r');
}

void checkAnswer(const QByteArray &received, const QString &value)
{
    const QByteArray answer = OpenVPNMessages::answer(received, value, value, value, value);
    const int prompts = int(received.contains(">PASSWORD:Need 'Auth' username/password"))
        + int(received.contains(">PASSWORD:Need 'HTTP Proxy' username/password"));
    check(answer.count("\r\n") == 2 * prompts && answer.count('\n') == 2 * prompts);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    checkOutput(bytes);

    // Credentials come from the user or the settings as any text, lone surrogates included.
    QString utf16(int(size / 2), Qt::Uninitialized);
    std::memcpy(utf16.data(), data, size / 2 * 2);
    for (const QString &value : { QString::fromUtf8(bytes), QString::fromLatin1(bytes), utf16 })
        checkAnswerLine(value);
    checkAnswer(bytes, QString::fromUtf8(bytes));
    return 0;
}
