// velmora-locker: a local Velmora-compatible service for tests, benchmarks and trying the uploader.
#include <CLI/CLI.hpp>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <pthread.h>
#include <thread>

#include "Locker.h"

using namespace velmora::locker;

int main(int argc, char** argv) {
  CLI::App app{
      "A local Velmora-compatible service: the REST methods, upload and download addresses, "
      "a control interface for tests and a small web site."};
  LockerOptions options;
  std::string data, minVersion, control = "auto";
  std::vector<std::string> users;
  app.add_option("--host", options.host, "Address to listen on")->capture_default_str();
  app.add_option("--port", options.port, "Port to listen on; 0 picks a free one")
      ->capture_default_str()
      ->check(CLI::Range(0, 65535));
  app.add_option("--data", data, "Folder for content and database (default: a temporary folder, removed at exit)");
  app.add_option("--user", users, "An account, NAME:PASSWORD; may be repeated");
  app.add_option("--min-version", minVersion, "Lowest uploader version that may sign in, e.g. 1.0.0.2");
  app.add_option("--control", control, "Control interface under /_control/: auto (on for loopback), on or off")
      ->capture_default_str()
      ->check(CLI::IsMember({"auto", "on", "off"}));
  app.add_option("--max-upload", options.maxUploadBytes, "Largest file an upload address accepts, in bytes")
      ->capture_default_str();
  app.add_flag("--log", options.logRequests, "Print one line per request on stderr");
  CLI11_PARSE(app, argc, argv);

  options.dataDir = data;
  for (const auto& text : users) {
    const auto account = ParseAccount(text);
    if (!account) {
      std::cerr << "velmora-locker: --user wants NAME:PASSWORD, not \"" << text << "\"\n";
      return 2;
    }
    options.users.push_back(*account);
  }
  if (!minVersion.empty()) {
    options.minVersion = ParseVersion(minVersion);
    if (!options.minVersion) {
      std::cerr << "velmora-locker: --min-version wants up to four numbers like 1.0.0.2, not \"" << minVersion
                << "\"\n";
      return 2;
    }
  }
  options.control = control == "on" ? ControlAccess::On : control == "off" ? ControlAccess::Off : ControlAccess::Auto;

  // Signals are taken by one waiting thread, never by whichever server thread they hit.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  try {
    Locker locker(options);
    locker.Bind();
    std::thread waiter([&] {
      int signal = 0;
      sigwait(&signals, &signal);
      locker.Stop();
    });
    std::cout << "velmora-locker listening on " << locker.BaseUrl() << std::endl;
    if (!locker.controlEnabled()) std::cerr << "velmora-locker: control interface off\n";
    locker.Serve();
    // Serve also ends when the server fails; wake the waiter so it can be joined.
    pthread_kill(waiter.native_handle(), SIGTERM);
    waiter.join();
    locker.Stop();
  } catch (const std::exception& error) {
    std::cerr << "velmora-locker: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
