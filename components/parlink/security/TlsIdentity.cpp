#include "components/parlink/security/TlsIdentity.h"

#include "components/parlink/security/OpenSslHandle.h"
#include "filesafety/PrivateFile.h"
#include "platform/SystemFile.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using PKey = OpenSslHandle<EVP_PKEY, EVP_PKEY_free>;
using Cert = OpenSslHandle<X509, X509_free>;
using Bio = OpenSslHandle<BIO, BIO_free_all>;

QByteArray BioBytes(BIO* bio) {
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return size > 0 ? QByteArray(data, size) : QByteArray();
}

// A new key and a self-signed certificate for it, both in PEM.
QByteArray MakeIdentityPem(const QString& commonName) {
    PKey key(EVP_EC_gen("P-256"));
    if (!key) return {};
    Cert cert(X509_new());
    if (!cert) return {};
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set_int64(X509_get_serialNumber(cert.get()),
                           static_cast<int64_t>(QRandomGenerator::system()->generate64() >> 2));
    // Valid from a day ago (clocks of terminals are not exact) for 30 years:
    // the pin, not the date, is what the other side checks.
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -24L * 3600);
    X509_time_adj_ex(X509_getm_notAfter(cert.get()), 30 * 365, 0, nullptr);
    X509_set_pubkey(cert.get(), key.get());
    X509_NAME* name = X509_get_subject_name(cert.get());
    const QByteArray cn = commonName.toUtf8().left(64);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(cn.constData()),
                               static_cast<int>(cn.size()), -1, 0);
    X509_set_issuer_name(cert.get(), name);
    if (X509_sign(cert.get(), key.get(), EVP_sha256()) <= 0) return {};
    Bio bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1 ||
        PEM_write_bio_X509(bio.get(), cert.get()) != 1)
        return {};
    return BioBytes(bio.get());
}

bool ParseIdentity(const QByteArray& pem, CTlsIdentity* identity) {
    identity->key = QSslKey(pem, QSsl::Ec, QSsl::Pem, QSsl::PrivateKey);
    const auto certs = QSslCertificate::fromData(pem, QSsl::Pem);
    identity->certificate = certs.isEmpty() ? QSslCertificate() : certs.first();
    identity->fingerprint = CertificateFingerprint(identity->certificate);
    return !identity->IsNull();
}

QString SystemText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

}  // namespace

QByteArray CertificateFingerprint(const QSslCertificate& certificate) {
    if (certificate.isNull()) return {};
    return certificate.digest(QCryptographicHash::Sha256);
}

bool LoadOrCreateTlsIdentity(const QString& file, const QString& commonName, CTlsIdentity* identity,
                             QString* error) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        // Only a key file of this user's own, never through a link: a link or
        // a file someone else put in the folder would make us present their
        // key as ours.
        CSystemFile in;
        if (in.Open(file, O_RDONLY | O_NOFOLLOW | O_NONBLOCK)) {
            struct stat status;
            if (!in.Status(&status)) {
                if (error) *error = in.Error();
                return false;
            }
            if (!S_ISREG(status.st_mode) || status.st_uid != ::geteuid()) {
                if (error)
                    *error = QStringLiteral("%1: not a file of this user (uid %2), not read").arg(file).arg(status.st_uid);
                return false;
            }
            QByteArray pem(static_cast<qsizetype>(qMin<qint64>(status.st_size, 1 << 20)), '\0');
            const qint64 got = in.ReadAt(0, pem.data(), pem.size());
            pem.resize(got < 0 ? 0 : got);
            if (ParseIdentity(pem, identity)) return true;
            if (error) *error = QStringLiteral("%1: not a key and certificate (remove it to make a new identity and pair again)").arg(file);
            return false;
        }
        if (in.ErrorNumber() == ELOOP) {
            if (error) *error = QStringLiteral("%1: it is a link, not read (remove it to make a new identity and pair again)").arg(file);
            return false;
        }
        if (in.ErrorNumber() != ENOENT) {
            if (error) *error = in.Error();
            return false;
        }
        // The folder before the key: a key that cannot be stored is not made.
        const QString folder = QFileInfo(file).absolutePath();
        if (!MakePrivateFolder(folder)) {
            if (error) *error = QStringLiteral("%1: cannot create the folder").arg(folder);
            return false;
        }
        const QByteArray pem = MakeIdentityPem(commonName);
        if (pem.isEmpty()) {
            if (error) *error = QStringLiteral("cannot make a key (OpenSSL)");
            return false;
        }
        QString temp;
        if (!WritePrivateTemp(file, pem, &temp, error)) return false;
        // link() fails when the name exists: two processes making their
        // first identity at once end up sharing the one stored first.
        const int rc = ::link(QFile::encodeName(temp).constData(), QFile::encodeName(file).constData());
        const int e = errno;
        ::unlink(QFile::encodeName(temp).constData());
        if (rc == 0) return ParseIdentity(pem, identity);
        if (e != EEXIST) {
            if (error) *error = QStringLiteral("%1: %2").arg(file, SystemText(e));
            return false;
        }
    }
    if (error) *error = QStringLiteral("%1: cannot be read").arg(file);
    return false;
}
