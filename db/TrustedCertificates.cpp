#include "db/TrustedCertificates.h"

#include "db/Error.h"
#include "db/PrivateFile.h"
#include "db/SettingsStore.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <algorithm>

namespace db {

namespace {

constexpr char kBegin[] = "-----BEGIN CERTIFICATE-----";
constexpr char kEnd[] = "-----END CERTIFICATE-----";
constexpr char kServerLine[] = "# Server: ";

// The server's key as a file name: a host holds no "/", and an instance's "\" becomes "@".
QString fileNameFor(const QString& key) {
    QString name = key;
    name.replace(u'\\', u'@');
    return name + QStringLiteral(".pem");
}

} // namespace

QString sha256Fingerprint(const QByteArray& der) {
    const QByteArray hex = QCryptographicHash::hash(der, QCryptographicHash::Sha256).toHex(':');
    return QStringLiteral("SHA256:") + QString::fromLatin1(hex).toUpper();
}

QByteArray parseFingerprint(const QString& text) {
    QString hex = text.trimmed();
    if (hex.startsWith(QLatin1String("SHA256:"), Qt::CaseInsensitive))
        hex = hex.mid(7);
    hex.remove(u':');
    if (hex.size() != 64)
        return {};
    for (QChar c : hex) {
        if (!c.isDigit() && !(c.toLower() >= u'a' && c.toLower() <= u'f'))
            return {};
    }
    return QByteArray::fromHex(hex.toLatin1());
}

QByteArray derFromPem(const QByteArray& pem) {
    const qsizetype begin = pem.indexOf(kBegin);
    const qsizetype end = pem.indexOf(kEnd, begin);
    if (begin < 0 || end < 0)
        return {};
    const qsizetype from = begin + qsizetype(sizeof kBegin) - 1;
    return QByteArray::fromBase64(pem.mid(from, end - from));
}

TrustedCertificates::TrustedCertificates() : TrustedCertificates(defaultFolder()) {}

TrustedCertificates::TrustedCertificates(QString folder) : folder_(std::move(folder)) {}

QString TrustedCertificates::defaultFolder() {
    return folderBeside(SettingsStore::defaultFilePath());
}

QString TrustedCertificates::folderBeside(const QString& settingsFile) {
    const QFileInfo settings(settingsFile);
    return settings.absolutePath() + u'/' + settings.completeBaseName() +
           QStringLiteral("-certificates");
}

QString TrustedCertificates::pathFor(const ServerAddress& server) const {
    return folder_ + u'/' + fileNameFor(server.key());
}

std::optional<PinnedCertificate> TrustedCertificates::read(const QString& path) const {
    const std::optional<QByteArray> text = readPrivateFile(path);
    if (!text)
        return std::nullopt;
    PinnedCertificate pinned;
    pinned.path = path;
    pinned.der = derFromPem(*text);
    if (pinned.der.isEmpty())
        throw Error(QStringLiteral("%1 holds no certificate.").arg(QDir::toNativeSeparators(path)));
    const qsizetype begin = text->indexOf(kBegin);
    const qsizetype serverAt = text->indexOf(kServerLine);
    if (serverAt >= 0 && serverAt < begin) {
        const qsizetype from = serverAt + qsizetype(sizeof kServerLine) - 1;
        pinned.server = QString::fromUtf8(text->mid(from, text->indexOf('\n', from) - from));
    }
    return pinned;
}

std::optional<PinnedCertificate> TrustedCertificates::find(const ServerAddress& server) const {
    return read(pathFor(server));
}

void TrustedCertificates::pin(const ServerAddress& server, const QByteArray& der) const {
    QByteArray text = QByteArray(kServerLine) + server.key().toUtf8() + '\n' +
                      sha256Fingerprint(der).toLatin1().prepend("# ") + '\n' + kBegin + '\n';
    const QByteArray base64 = der.toBase64();
    for (qsizetype at = 0; at < base64.size(); at += 64)
        text += base64.mid(at, 64) + '\n';
    text += QByteArray(kEnd) + '\n';
    writePrivateFile(pathFor(server), text);
}

bool TrustedCertificates::remove(const ServerAddress& server) const {
    const QString path = pathFor(server);
    if (!QFileInfo(path).exists() && !QFileInfo(path).isSymLink())
        return false;
    if (!QFile::remove(path)) {
        throw Error(QStringLiteral("%1 cannot be removed.").arg(QDir::toNativeSeparators(path)));
    }
    return true;
}

std::vector<PinnedCertificate> TrustedCertificates::all() const {
    std::vector<PinnedCertificate> found;
    const QStringList names =
        QDir(folder_).entryList({QStringLiteral("*.pem")}, QDir::Files | QDir::System, QDir::Name);
    for (const QString& name : names) {
        if (std::optional<PinnedCertificate> pinned = read(folder_ + u'/' + name))
            found.push_back(std::move(*pinned));
    }
    return found;
}

} // namespace db
