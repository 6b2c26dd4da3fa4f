#include "host/curl_transport.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <string_view>

#include "platform/large_buffer.h"

namespace Zorv::Host {
namespace {

// libcurl's global set-up is not thread-safe on every build: done once,
// before the first handle, and kept for the life of the process.
void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Transfer {
  CURL* handle = nullptr;
  size_t maxBody = 0;
  bool tooLarge = false;
  bool outOfMemory = false;
  HttpResponse response;
};

// The announced length is the first reservation, up to a bound: a server may
// announce more than it sends, and room that is reserved but never written
// costs address space only.
void ReserveAnnounced(Transfer& transfer) {
  curl_off_t announced = -1;
  if (curl_easy_getinfo(transfer.handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) !=
          CURLE_OK ||
      announced <= 0) {
    return;
  }
  const auto bound = std::min(transfer.maxBody, CurlHttpTransport::kMaxAnnouncedReservation);
  Platform::ReserveLarge(transfer.response.body, static_cast<size_t>(std::min<curl_off_t>(
                                                     announced, static_cast<curl_off_t>(bound))));
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  Transfer& transfer = *static_cast<Transfer*>(user);
  std::string& body = transfer.response.body;
  const size_t bytes = size * count;
  if (bytes > transfer.maxBody - body.size()) {
    transfer.tooLarge = true;
    return CURL_WRITEFUNC_ERROR;
  }
  // No exception may cross libcurl's C frames.
  try {
    if (body.empty()) ReserveAnnounced(transfer);
    Platform::ReserveToAppend(body, bytes);
  } catch (const std::bad_alloc&) {
    transfer.outOfMemory = true;
    return CURL_WRITEFUNC_ERROR;
  }
  body.append(data, bytes);
  return bytes;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  return text;
}

// Called once per header line, status lines included. A new status line
// (a redirection followed, a 100 Continue) starts the headers afresh, so only
// the final answer's headers are kept.
size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  const std::string_view line(data, size * count);
  HeaderList& headers = static_cast<Transfer*>(user)->response.headers;
  if (line.starts_with("HTTP/")) {
    headers.clear();
    return line.size();
  }
  const size_t colon = line.find(':');
  if (colon != std::string_view::npos) {
    headers.emplace_back(std::string(Trim(line.substr(0, colon))),
                         std::string(Trim(line.substr(colon + 1))));
  }
  return line.size();
}

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

}  // namespace

CurlHttpTransport::CurlHttpTransport(Options options) : options_(options) {
  GlobalInit();
}

HttpResponse CurlHttpTransport::Send(const HttpRequest& request) {
  std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
  if (!easy) return HttpResponse::Failure(CURLE_FAILED_INIT, "cannot start a transfer");
  CURL* handle = easy.get();
  Transfer transfer;
  transfer.handle = handle;
  transfer.maxBody = options_.maxBodyBytes;
  char errorText[CURL_ERROR_SIZE] = {};

  const std::string method = request.methodText.empty() ? "GET" : request.methodText;
  curl_easy_setopt(handle, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText);
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(handle, CURLOPT_HEADERDATA, &transfer);
  curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, options_.followRedirects ? 1L : 0L);
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS,
                   static_cast<long>(options_.connectTimeout.count()));
  curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, static_cast<long>(options_.totalTimeout.count()));
  // Only web addresses: a plug-in must not reach files or other schemes.
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");

  if (method == "HEAD") {
    curl_easy_setopt(handle, CURLOPT_NOBODY, 1L);
  } else if (method != "GET") {
    curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, method.c_str());
  }
  if (!request.body.empty() || method == "POST" || method == "PUT" || method == "PATCH") {
    // The size is given, so a body with zero bytes in it goes whole.
    curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(request.body.size()));
    curl_easy_setopt(handle, CURLOPT_POSTFIELDS, request.body.data());
    if (method != "POST") curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, method.c_str());
  }

  std::unique_ptr<curl_slist, ListDeleter> headers;
  for (const auto& [name, value] : request.headers) {
    // "Name;" is libcurl's form for a header with an empty value.
    const std::string line = value.empty() ? name + ";" : name + ": " + value;
    curl_slist* grown = curl_slist_append(headers.get(), line.c_str());
    if (!grown) return HttpResponse::Failure(CURLE_OUT_OF_MEMORY, "cannot add a header");
    headers.release();
    headers.reset(grown);
  }
  if (headers) curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());

  const CURLcode code = curl_easy_perform(handle);
  if (transfer.tooLarge) {
    return HttpResponse::Failure(
        static_cast<int32_t>(code),
        "the response body is larger than " + std::to_string(options_.maxBodyBytes) + " bytes");
  }
  if (transfer.outOfMemory) {
    return HttpResponse::Failure(static_cast<int32_t>(code), "out of memory for the response body");
  }
  if (code != CURLE_OK) {
    return HttpResponse::Failure(static_cast<int32_t>(code),
                                 errorText[0] ? errorText : curl_easy_strerror(code));
  }
  long status = 0;
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
  transfer.response.status = static_cast<int32_t>(status);
  return std::move(transfer.response);
}

}  // namespace Zorv::Host
