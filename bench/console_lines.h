// For the console's benchmarks: 100 gateway lines (10 machines of 10) on
// 127.0.0.1 that report to a running engine from a thread of their own, as
// gateways do (a keep-alive every two seconds with the line's state), some of
// them in a call all the time; and the console's windows as an operator leaves
// them after logging in, without their timer, so the benchmark makes the polls.
#ifndef BENCH_CONSOLE_LINES_H
#define BENCH_CONSOLE_LINES_H

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "quenta/quenta.h"

#include "Forms.h"
#include "Login.h"
#include "MainFrm.h"
#include "Modal.h"

namespace bench {

constexpr int kMachines = 10;
constexpr int kLines = 10;

inline std::string MachineOf(int line)
{
  return "GW" + std::to_string(line / kLines + 1);
}

/* The gateway side: one socket per line; lines 0 .. inCall-1 are in a call to
 * dialled(line) from the start and stay in it. */
class Gateways {
public:
  Gateways(int inCall, std::function<std::string(int)> dialled) : m_inCall(inCall), m_dialled(std::move(dialled))
  {
    m_station.sin_family = AF_INET;
    m_station.sin_port = htons(SRV_PORT);
    m_station.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int i = 0; i < kMachines * kLines; i++) {
      int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
      sockaddr_in me{};
      me.sin_family = AF_INET;
      me.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      bind(fd, reinterpret_cast<sockaddr *>(&me), sizeof me);
      m_fds.push_back(fd);
    }
  }
  ~Gateways()
  {
    m_stop = true;
    if (m_thread.joinable())
      m_thread.join();
    for (int fd : m_fds)
      close(fd);
  }

  void start()
  {
    for (int i = 0; i < kMachines * kLines; i++) {
      send(i, "Discovery", "IDLE", "");
      if (i < m_inCall)
        send(i, "Connected", "CONNECTED", m_dialled(i));
    }
    m_thread = std::thread([this] { run(); });
  }

  /* A call of the line that has ended; true once the engine has stored it.
   * The engine echoes a message before it stores the call that message
   * ended, and handles datagrams one after the other: the third echo comes
   * after the store. */
  bool endedCall(int line, const std::string &dialled)
  {
    std::scoped_lock lock(m_mutex);
    char echo[1024];
    while (recv(m_fds[line], echo, sizeof echo, 0) > 0) {
    }
    send(line, "Connected", "CONNECTED", dialled);
    send(line, "KeepAlive", "IDLE", "");
    send(line, "KeepAlive", "IDLE", "");
    for (int echoes = 0; echoes < 3; echoes++) {
      pollfd p{m_fds[line], POLLIN, 0};
      if (::poll(&p, 1, 2000) <= 0 || recv(m_fds[line], echo, sizeof echo, 0) <= 0)
        return false;
    }
    return true;
  }

private:
  void send(int line, const char *type, const char *state, const std::string &dialled)
  {
    std::string text = std::string(type) + " " + type + " ui/1.0\n" + "machine_id: " + MachineOf(line) +
                       "\nline_id: " + std::to_string(line % kLines) + "\nstate: " + state + "\n";
    if (std::string(type) == "Connected")
      text += "src_num: 8001\n";
    text += "dest_num: " + dialled + "\n\n";
    sendto(m_fds[line], text.data(), text.size(), 0, reinterpret_cast<sockaddr *>(&m_station), sizeof m_station);
  }

  void run()
  {
    auto next = std::chrono::steady_clock::now();
    while (!m_stop) {
      {
        std::scoped_lock lock(m_mutex);
        char echo[1024];
        for (int fd : m_fds)
          while (recv(fd, echo, sizeof echo, 0) > 0) {
          }
        if (std::chrono::steady_clock::now() >= next) {
          for (int i = 0; i < kMachines * kLines; i++)
            send(i, "KeepAlive", i < m_inCall ? "CONNECTED" : "IDLE", "");
          next += std::chrono::seconds(2);
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  int m_inCall;
  std::function<std::string(int)> m_dialled;
  sockaddr_in m_station{};
  std::vector<int> m_fds;
  std::mutex m_mutex;
  std::thread m_thread;
  std::atomic<bool> m_stop{false};
};

/* The console as an operator leaves it after logging in, without its timer. */
inline void OpenConsole()
{
  SetDialogAnswer([](QDialog *dialog) {
    if (dialog == Forms.LoginDlg) {
      Forms.LoginDlg->Username->setText(QStringLiteral("admin"));
      Forms.LoginDlg->OKBtn->click();
    }
  });
  CreateForms();
  Forms.MainForm->show();
  QCoreApplication::sendPostedEvents(Forms.MainForm, QEvent::MetaCall);
  Forms.MainForm->findChild<QTimer *>(QStringLiteral("Timer1"))->stop();
  QCoreApplication::processEvents();
}

/* One poll and the repaint it causes. */
inline void PollAndPaint()
{
  Forms.MainForm->PollLines();
  QCoreApplication::processEvents();
}

}  // namespace bench

#endif
