// bench_static_server: the HTTP server library that zorv-host uses, with the
// same thread pool and connection settings (TCP_NODELAY, requests per
// kept-alive connection), answering one static JSON route: the ceiling for
// zorv-host's requests per second. Listens on 127.0.0.1 (port 0 picks a free
// one), prints "port N" once listening, stops on SIGINT or SIGTERM.
#include <httplib.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

int main(int argc, char** argv) {
  const int port = argc > 1 ? std::atoi(argv[1]) : 0;
  // Signals are taken by sigwait on this thread only, never by the server's threads.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);

  httplib::Server server;
  server.new_task_queue = [] { return new httplib::ThreadPool(16); };
  server.set_tcp_nodelay(true);
  server.set_keep_alive_max_count(1000);
  const std::string body = R"({"downloadProgress":0,"gameId":5001,"state":"watch"})";
  server.Get("/static", [&body](const httplib::Request&, httplib::Response& response) {
    response.set_content(body, "application/json");
  });
  const int bound = port == 0 ? server.bind_to_any_port("127.0.0.1")
                              : (server.bind_to_port("127.0.0.1", port) ? port : -1);
  if (bound <= 0) {
    std::fprintf(stderr, "bench_static_server: cannot listen on port %d\n", port);
    return 1;
  }
  std::thread listener([&server] { server.listen_after_bind(); });
  std::printf("port %d\n", bound);
  std::fflush(stdout);
  int signal = 0;
  sigwait(&stop, &signal);
  server.stop();
  listener.join();
  return 0;
}
