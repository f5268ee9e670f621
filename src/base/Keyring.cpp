#include "base/Keyring.h"

#include <libsecret/secret.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace velmora::keyring {
namespace {

const SecretSchema kSchema = {"org.velmora.Uploader.Password",
                              SECRET_SCHEMA_NONE,
                              {{"user", SECRET_SCHEMA_ATTRIBUTE_STRING},
                               {"host", SECRET_SCHEMA_ATTRIBUTE_STRING},
                               {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
                              0,
                              nullptr,
                              nullptr,
                              nullptr,
                              nullptr,
                              nullptr,
                              nullptr,
                              nullptr};

// A probe of the service answers at once; an unlock prompt waits for a person.
constexpr std::chrono::seconds kProbeTime{5};
constexpr std::chrono::seconds kPromptTime{120};

// Runs a blocking libsecret call with a cancellable that a watchdog cancels after `limit`, so no
// call can hang the program on a service that does not answer.
template <typename Call>
auto WithDeadline(std::chrono::seconds limit, Call call) {
  GCancellable* cancellable = g_cancellable_new();
  std::mutex mutex;
  std::condition_variable wake;
  bool done = false;
  std::thread watchdog([&] {
    std::unique_lock lock(mutex);
    if (!wake.wait_for(lock, limit, [&] { return done; })) g_cancellable_cancel(cancellable);
  });
  GError* error = nullptr;
  auto result = call(cancellable, &error);
  {
    std::lock_guard lock(mutex);
    done = true;
  }
  wake.notify_one();
  watchdog.join();
  g_object_unref(cancellable);
  const bool failed = error != nullptr;
  if (error) g_error_free(error);
  return std::pair{result, failed};
}

bool BusNamed() {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  return address && *address;
}

} // namespace

bool Available() {
  if (!BusNamed()) return false;
  auto [password, failed] = WithDeadline(kProbeTime, [](GCancellable* cancellable, GError** error) {
    return secret_password_lookup_sync(&kSchema, cancellable, error, "user", "", "host", "", nullptr);
  });
  if (password) secret_password_free(password);
  return !failed;
}

std::optional<std::string> Lookup(const std::string& user, const std::string& host) {
  if (!BusNamed()) return std::nullopt;
  auto [password, failed] = WithDeadline(kPromptTime, [&](GCancellable* cancellable, GError** error) {
    return secret_password_lookup_sync(&kSchema, cancellable, error, "user", user.c_str(), "host", host.c_str(),
                                       nullptr);
  });
  if (!password) return std::nullopt;
  std::optional<std::string> found;
  if (!failed) found = std::string(password);
  secret_password_free(password);
  return found;
}

bool Store(const std::string& user, const std::string& host, const std::string& password) {
  if (!BusNamed()) return false;
  const std::string label = "Velmora Uploader: " + user + " at " + host;
  auto [stored, failed] = WithDeadline(kPromptTime, [&](GCancellable* cancellable, GError** error) {
    return secret_password_store_sync(&kSchema, SECRET_COLLECTION_DEFAULT, label.c_str(), password.c_str(), cancellable,
                                      error, "user", user.c_str(), "host", host.c_str(), nullptr);
  });
  return stored && !failed;
}

bool Remove(const std::string& user, const std::string& host) {
  if (!BusNamed()) return false;
  auto [removed, failed] = WithDeadline(kPromptTime, [&](GCancellable* cancellable, GError** error) {
    return secret_password_clear_sync(&kSchema, cancellable, error, "user", user.c_str(), "host", host.c_str(),
                                      nullptr);
  });
  (void)removed; // false also when there was nothing to remove
  return !failed;
}

bool RemoveAll(const std::string& user) {
  if (!BusNamed()) return false;
  // Only the attributes given are matched, so every host's entry of the user goes.
  auto [removed, failed] = WithDeadline(kPromptTime, [&](GCancellable* cancellable, GError** error) {
    return secret_password_clear_sync(&kSchema, cancellable, error, "user", user.c_str(), nullptr);
  });
  (void)removed;
  return !failed;
}

bool DefaultCollectionLocked() {
  if (!BusNamed()) return false;
  auto [locked, failed] = WithDeadline(kProbeTime, [](GCancellable* cancellable, GError** error) {
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_NONE, cancellable, error);
    if (!service) return false;
    SecretCollection* collection = secret_collection_for_alias_sync(service, SECRET_COLLECTION_DEFAULT,
                                                                    SECRET_COLLECTION_NONE, cancellable, error);
    g_object_unref(service);
    if (!collection) return false;
    const bool isLocked = secret_collection_get_locked(collection) != FALSE;
    g_object_unref(collection);
    return isLocked;
  });
  return locked && !failed;
}

} // namespace velmora::keyring
