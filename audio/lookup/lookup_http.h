// The HTTP requests of the disc lookups, through libcurl: one GET with time limits,
// its failures turned into ELookupError naming the service. Any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>

#include "lookup/lookup_error.h"

struct THttpReply {
  long Status = 0;
  std::string Body;
};

struct THttpRequest {
  std::string Service;  // how messages name the other side: "MusicBrainz"
  std::string Url;
  std::string UserAgent;
  std::chrono::milliseconds TimeLimit{10000};
  std::chrono::milliseconds ConnectLimit{5000};
  // Once it holds true (from any thread), the request ends at once, as a failure.
  std::shared_ptr<const std::atomic<bool>> Cancel = nullptr;
};

// Any status is returned; what could not be exchanged in time or at all raises, and so
// does a request cancelled.
THttpReply HttpGet(const THttpRequest& Request);

// The host named by Url ("" when it names none).
std::string UrlHost(const std::string& Url);
// The scheme of Url as libcurl reads it, in lower case ("https" for "HTTPS://host/");
// empty when libcurl reads no URL there.
std::string UrlScheme(const std::string& Url);
// Text escaped for a query string (libcurl's escaping).
std::string UrlEscape(const std::string& Text);

// Keeps calls at least Interval apart across threads: each `Wait` returns no sooner
// than Interval after the previous one returned. Waiters queue on the lock.
class TRateLimiter {
 public:
  explicit TRateLimiter(std::chrono::steady_clock::duration Interval) : Interval_(Interval) {}
  void Wait();

 private:
  const std::chrono::steady_clock::duration Interval_;
  std::mutex Mutex_;
  bool Used_ = false;
  std::chrono::steady_clock::time_point Next_;
};
