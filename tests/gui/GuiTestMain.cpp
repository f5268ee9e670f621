// Runs the window test classes under one QApplication; a class name as first argument runs only
// that class, so CTest can run the classes side by side.

#include "GuiTestRegistry.h"

#include "gui/UploaderProgram.h"

#include <QApplication>

#include <cstring>

namespace velmora::gui::test {

std::vector<TestClass>& TestClasses() {
  static std::vector<TestClass> classes;
  return classes;
}

} // namespace velmora::gui::test

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  velmora::gui::SetUpApplication();
  QApplication::setQuitOnLastWindowClosed(false);

  std::vector<char*> args(argv, argv + argc);
  const char* only = nullptr;
  if (args.size() > 1 && args[1][0] != '-') {
    only = args[1];
    args.erase(args.begin() + 1);
  }
  int failures = 0;
  bool ran = false;
  for (const auto& entry : velmora::gui::test::TestClasses()) {
    if (only && std::strcmp(only, entry.name) != 0) continue;
    ran = true;
    auto object = entry.make();
    failures += QTest::qExec(object.get(), static_cast<int>(args.size()), args.data());
  }
  if (!ran) {
    std::fprintf(stderr, "no test class named %s\n", only ? only : "(none)");
    return 2;
  }
  return failures == 0 ? 0 : 1;
}
