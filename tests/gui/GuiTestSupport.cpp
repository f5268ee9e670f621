#include "GuiTestSupport.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTest>

namespace velmora::gui::test {

void TestPresenter::showMessage(QWidget*, const QString& text) {
  messages << text;
  if (onMessage) onMessage(text);
}

void TestPresenter::showErrorMessage(QWidget*, const QString& text) { errorMessages << text; }

void TestPresenter::showErrorDisplay(QWidget*, const QString& text) { errorDisplays << text; }

int TestPresenter::execDialog(QDialog& dialog) {
  dialogs << dialog.windowTitle();
  if (!onDialog) return QDialog::Rejected;
  dialog.show();
  QCoreApplication::processEvents();
  const int result = onDialog(dialog);
  dialog.hide();
  return result;
}

TempHome::TempHome() {
  oldCache_ = qgetenv("XDG_CACHE_HOME");
  oldConfig_ = qgetenv("XDG_CONFIG_HOME");
  qputenv("XDG_CACHE_HOME", dir_.filePath(QStringLiteral("cache")).toLocal8Bit());
  qputenv("XDG_CONFIG_HOME", dir_.filePath(QStringLiteral("config")).toLocal8Bit());
}

TempHome::~TempHome() {
  qputenv("XDG_CACHE_HOME", oldCache_);
  qputenv("XDG_CONFIG_HOME", oldConfig_);
}

namespace {

QByteArray Id3Frame(const char* id, const QString& text) {
  QByteArray body;
  body.append('\0'); // ISO-8859-1
  body.append(text.toLatin1());
  QByteArray frame(id, 4);
  const quint32 size = static_cast<quint32>(body.size());
  frame.append(static_cast<char>(size >> 24)).append(static_cast<char>(size >> 16));
  frame.append(static_cast<char>(size >> 8)).append(static_cast<char>(size));
  frame.append('\0').append('\0');
  return frame + body;
}

} // namespace

TestLocker::TestLocker() {
  locker::LockerOptions options;
  options.host = "127.0.0.1";
  options.port = 0;
  options.threads = 8;
  options.users.push_back({"alice", "secret"});
  locker_ = std::make_unique<locker::Locker>(options);
  locker_->Start();
}

TestLocker::~TestLocker() { locker_->Stop(); }

std::string TestLocker::stageArgument() const { return "/stage 127.0.0.1:" + std::to_string(locker_->port()); }

int TestLocker::itemCount(const std::string& user) const {
  return static_cast<int>(locker_->library().Items(user).size());
}

QByteArray Mp3Bytes(const QString& title, const QString& artist, const QString& album, int seed, int frames) {
  QByteArray frames3 = Id3Frame("TIT2", title) + Id3Frame("TPE1", artist) + Id3Frame("TALB", album);
  QByteArray tag("ID3\x03\x00\x00", 6);
  const quint32 size = static_cast<quint32>(frames3.size());
  tag.append(static_cast<char>((size >> 21) & 0x7f)).append(static_cast<char>((size >> 14) & 0x7f));
  tag.append(static_cast<char>((size >> 7) & 0x7f)).append(static_cast<char>(size & 0x7f));
  QByteArray bytes = tag + frames3;
  // 128 kbit/s, 44.1 kHz, no padding, no CRC: 417 bytes per frame.
  for (int f = 0; f < frames; ++f) {
    QByteArray frame(417, '\0');
    frame[0] = static_cast<char>(0xFF);
    frame[1] = static_cast<char>(0xFB);
    frame[2] = static_cast<char>(0x90);
    frame[3] = static_cast<char>(0x64);
    for (int i = 4; i < frame.size(); ++i) frame[i] = static_cast<char>((seed * 131 + f * 7 + i) & 0xff);
    bytes += frame;
  }
  return bytes;
}

void WriteBytes(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
    qFatal("cannot write %s", qPrintable(path));
  }
}

std::unique_ptr<UploaderProgram> StartProgram(TestPresenter& presenter, const TestLocker& locker) {
  EngineOptions options;
  options.firstArgument = locker.stageArgument();
  return std::make_unique<UploaderProgram>(presenter, std::move(options));
}

bool WaitFor(const std::function<bool()>& done, int ms) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QTest::qSleep(5);
  }
  return true;
}

} // namespace velmora::gui::test
