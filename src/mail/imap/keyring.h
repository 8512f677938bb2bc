// SPDX-License-Identifier: MIT
#pragma once
// Where an account's password is kept between runs: the desktop's Secret Service (GNOME Keyring, KWallet)
// through libsecret, behind a small interface that tests replace.

#include <QByteArray>
#include <memory>

namespace quillbox::mail::imap {

struct Account;

class Keyring {
public:
    virtual ~Keyring() = default;
    /// The password kept for `account`; empty when none is kept or no keyring answers.
    virtual QByteArray password(const Account& account) = 0;
    /// Keeps `password` for `account`; false when the keyring could not.
    virtual bool keep(const Account& account, const QByteArray& password) = 0;
};

/// The desktop's Secret Service, asked within the account's time limit; with no D-Bus session (an unattended
/// run on a server) nothing is asked and nothing is kept.
std::unique_ptr<Keyring> secretServiceKeyring();

} // namespace quillbox::mail::imap
