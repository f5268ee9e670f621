#pragma once
// The desktop keyring: a Secret Service (GNOME Keyring, KWallet's Secret Service, KeePassXC) on the
// user's session bus, reached through libsecret. Passwords are kept under the user name and the
// service host, labelled with both.

#include <optional>
#include <string>

namespace velmora::keyring {

// Whether a Secret Service answers: only when DBUS_SESSION_BUS_ADDRESS names a session bus (so a
// machine without one is never made to start or look for a bus) and a harmless search there
// succeeds within a few seconds.
bool Available();

// The password kept for `user` at `host`. Nothing when there is none, when the keyring is locked
// and the user does not unlock it, or when no Secret Service answers.
std::optional<std::string> Lookup(const std::string& user, const std::string& host);

// Keeps the password in the default collection, replacing an earlier one of the same user and
// host. False when it could not be stored.
bool Store(const std::string& user, const std::string& host, const std::string& password);

// Removes the password of `user` at `host`. True when none is kept there any more.
bool Remove(const std::string& user, const std::string& host);

// Removes every password kept for `user`, whatever the host (a login with "--stage" keeps its own
// entry). True when none is kept any more.
bool RemoveAll(const std::string& user);

// Whether a Secret Service answers and its default collection, where passwords are stored, is
// locked: a store then fails unless the user unlocks it.
bool DefaultCollectionLocked();

} // namespace velmora::keyring
