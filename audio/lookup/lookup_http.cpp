#include "lookup/lookup_http.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>
#include <thread>

namespace {

// No answer of the lookups comes near this; a server that sends more is refused
// rather than held in memory.
constexpr size_t MaxBodyBytes = 16 << 20;

struct TCurlDeleter {
  void operator()(CURL* Handle) const { curl_easy_cleanup(Handle); }
  void operator()(CURLU* Url) const { curl_url_cleanup(Url); }
  void operator()(char* Text) const { curl_free(Text); }
};
using TCurlHandle = std::unique_ptr<CURL, TCurlDeleter>;
using TCurlUrl = std::unique_ptr<CURLU, TCurlDeleter>;
using TCurlText = std::unique_ptr<char, TCurlDeleter>;

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

size_t AppendBody(char* Data, size_t Size, size_t Count, void* Target) {
  auto* body = static_cast<std::string*>(Target);
  const size_t bytes = Size * Count;
  if (body->size() + bytes > MaxBodyBytes) return 0;  // ends the transfer with a write error
  body->append(Data, bytes);
  return bytes;
}

// libcurl's progress callback, which it calls often while a transfer waits: a nonzero
// answer ends the transfer.
int CancelledTransfer(void* Cancel, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<const std::atomic<bool>*>(Cancel)->load() ? 1 : 0;
}

// "10 seconds", "1 second", "1.5 seconds".
std::string Duration(std::chrono::milliseconds Limit) {
  const long long ms = Limit.count();
  char text[32];
  if (ms % 1000 == 0)
    std::snprintf(text, sizeof text, "%lld second%s", ms / 1000, ms == 1000 ? "" : "s");
  else
    std::snprintf(text, sizeof text, "%.1f seconds", static_cast<double>(ms) / 1000.0);
  return text;
}

[[noreturn]] void ThrowTransferFailure(const THttpRequest& Request, CURL* Handle, CURLcode Code,
                                       const char* Detail) {
  const std::string& service = Request.Service;
  const std::string reason = *Detail ? Detail : curl_easy_strerror(Code);
  switch (Code) {
    case CURLE_OPERATION_TIMEDOUT: {
      curl_off_t connected = 0;
      curl_easy_getinfo(Handle, CURLINFO_CONNECT_TIME_T, &connected);
      if (connected == 0)
        throw ELookupError(service + " could not be reached within " +
                           Duration(Request.ConnectLimit));
      throw ELookupError(service + " did not answer within " + Duration(Request.TimeLimit));
    }
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT: throw ELookupError(service + " could not be reached: " + reason);
    case CURLE_ABORTED_BY_CALLBACK:
      throw ELookupError(service + " was not asked: the lookup was stopped");
    case CURLE_WRITE_ERROR:
      throw ELookupError(service + " sent an answer of more than " +
                         std::to_string(MaxBodyBytes >> 20) + " MiB");
    // What libcurl answers to a header beyond its limit (100 kB), which no server of the
    // lookups sends; memory is rarely what ran out.
    case CURLE_OUT_OF_MEMORY:
      throw ELookupError(service + " sent a header too large to read (or memory ran out)");
    default: throw ELookupError(service + " could not be asked: " + reason);
  }
}

}  // namespace

THttpReply HttpGet(const THttpRequest& Request) {
  InitCurlOnce();
  TCurlHandle handle(curl_easy_init());
  if (!handle) throw ELookupError(Request.Service + " could not be asked: libcurl failed to start");
  CURL* curl = handle.get();
  THttpReply reply;
  char detail[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(curl, CURLOPT_URL, Request.Url.c_str());
  curl_easy_setopt(curl, CURLOPT_USERAGENT, Request.UserAgent.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  // A redirect never leaves https for plain http.
  const bool secure = UrlScheme(Request.Url) == "https";
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");  // whatever libcurl can decode
  // Time limits without SIGALRM: lookups may run on any thread.
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(Request.TimeLimit.count()));
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS,
                   static_cast<long>(Request.ConnectLimit.count()));
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, detail);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.Body);
  if (Request.Cancel) {
    if (*Request.Cancel)
      throw ELookupError(Request.Service + " was not asked: the lookup was stopped");
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, CancelledTransfer);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA,
                     const_cast<std::atomic<bool>*>(Request.Cancel.get()));
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  }

  const CURLcode code = curl_easy_perform(curl);
  if (code != CURLE_OK) ThrowTransferFailure(Request, curl, code, detail);
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.Status);
  return reply;
}

namespace {

// One part of Url as libcurl reads it ("" when it reads no URL there or no such part).
std::string UrlPart(const std::string& Url, CURLUPart Part) {
  TCurlUrl url(curl_url());
  char* text = nullptr;
  if (!url || curl_url_set(url.get(), CURLUPART_URL, Url.c_str(), 0) != CURLUE_OK ||
      curl_url_get(url.get(), Part, &text, 0) != CURLUE_OK)
    return {};
  TCurlText owned(text);
  return owned.get();
}

}  // namespace

std::string UrlHost(const std::string& Url) { return UrlPart(Url, CURLUPART_HOST); }

std::string UrlScheme(const std::string& Url) {
  std::string scheme = UrlPart(Url, CURLUPART_SCHEME);
  std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return scheme;
}

std::string UrlEscape(const std::string& Text) {
  InitCurlOnce();
  TCurlText escaped(curl_easy_escape(nullptr, Text.data(), static_cast<int>(Text.size())));
  return escaped ? escaped.get() : std::string();
}

void TRateLimiter::Wait() {
  std::lock_guard<std::mutex> lock(Mutex_);
  if (Used_) std::this_thread::sleep_until(Next_);
  Used_ = true;
  Next_ = std::chrono::steady_clock::now() + Interval_;
}
