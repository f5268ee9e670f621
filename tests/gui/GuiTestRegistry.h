#pragma once
// Test classes register themselves so one program can run any of them by name.

#include <QObject>
#include <QTest>

#include <functional>
#include <memory>
#include <vector>

namespace velmora::gui::test {

struct TestClass {
  const char* name;
  std::function<std::unique_ptr<QObject>()> make;
};

std::vector<TestClass>& TestClasses();

struct RegisterTestClass {
  RegisterTestClass(const char* name, std::function<std::unique_ptr<QObject>()> make) {
    TestClasses().push_back({name, std::move(make)});
  }
};

} // namespace velmora::gui::test

#define VELMORA_GUI_TEST(Class)                                           \
  static ::velmora::gui::test::RegisterTestClass register_##Class(#Class, \
                                                                  [] { return std::unique_ptr<QObject>(new Class); })
