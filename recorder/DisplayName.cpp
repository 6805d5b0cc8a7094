#include "recorder/DisplayName.h"

namespace {

QString escaped(const QByteArray &bytes)
{
    QString text;
    for (const char byte : bytes)
        text += QStringLiteral("\\x%1").arg(unsigned(static_cast<unsigned char>(byte)), 2, 16, QLatin1Char('0'));
    return text;
}

// The length of the well-formed UTF-8 sequence that starts at `at`, or 0 when the bytes there
// are not one (a stray continuation byte, an overlong form, a surrogate, a cut sequence).
qsizetype sequenceLength(const QByteArray &bytes, qsizetype at)
{
    const auto byte = [&](qsizetype i) { return static_cast<unsigned char>(bytes[at + i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80)
        return 1;
    qsizetype length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (at + length > bytes.size() || byte(1) < low || byte(1) > high)
        return 0;
    for (qsizetype i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    }
    return length;
}

} // namespace

QString DisplayName(const std::string &bytes)
{
    const QByteArray raw = QByteArray::fromStdString(bytes);
    QString text;
    for (qsizetype at = 0; at < raw.size();) {
        const qsizetype length = sequenceLength(raw, at);
        if (length == 0) {
            text += escaped(raw.mid(at, 1));
            ++at;
            continue;
        }
        const QByteArray sequence = raw.mid(at, length);
        const QString character = QString::fromUtf8(sequence);
        const bool control = character.size() == 1 && character.front().category() == QChar::Other_Control;
        text += control ? escaped(sequence) : character;
        at += length;
    }
    return text;
}
