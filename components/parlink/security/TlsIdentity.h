#pragma once
// A side's own TLS identity on the network link: an ECDSA P-256 key and a
// self-signed certificate, made on first use and kept in one file readable
// by its owner only (TLS cannot prove a side that has no key). Nobody signs
// these certificates: the other side knows this one by its SHA-256
// fingerprint, pinned at pairing (LinkPins.h).

#include <QByteArray>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>

struct CTlsIdentity {
    QSslKey key;
    QSslCertificate certificate;
    QByteArray fingerprint;  // SHA-256 of the certificate's DER bytes

    bool IsNull() const { return key.isNull() || certificate.isNull(); }
};

// The identity kept in `file` (PEM: the private key, then the certificate).
// When the file is missing, a new key and a certificate naming `commonName`
// are made and stored: created 0600 under a temporary name and linked into
// place, so a reader never sees half a file, and when another process stored
// one first, that one is taken. The folder is created (0700) when missing.
// False with the reason in `error` when the file cannot be read, written or
// parsed (a damaged file is reported, never replaced: pins made with it would
// silently stop matching).
bool LoadOrCreateTlsIdentity(const QString& file, const QString& commonName, CTlsIdentity* identity,
                             QString* error);

QByteArray CertificateFingerprint(const QSslCertificate& certificate);

