#include "bindings/libebur128.h"

TRuntimeBinding<TEbur128Functions>& Ebur128Binding() {
  static TRuntimeBinding<TEbur128Functions> binding("libebur128.so.1");
  return binding;
}
