#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// A key pair made by the real minisign, without a password, and signatures made with it.
class MinisignKey {
public:
    MinisignKey();

    // The base64 line of the public key file, as "Chiave pubblica" holds it.
    QString PublicKeyLine() const;
    // The key id as minisign prints it in the public key file's comment.
    QString KeyId() const;
    QString SecretKeyFile() const { return Dir.path() + "/minisign.key"; }

    enum class Format { Prehashed, Legacy };
    // The signature file of the content, as `minisign -S` writes it. An empty trusted comment
    // leaves minisign's own ("timestamp:N\tfile:NAME ...").
    QByteArray Sign(const QByteArray& content, Format format = Format::Prehashed,
                    const QString& trustedComment = QString()) const;

private:
    QTemporaryDir Dir;
};

// Runs a program to its end; throws with its output when it does not exit with 0.
QByteArray RunChecked(const QString& program, const QStringList& arguments);
