#include "bindings/madlib.h"

TRuntimeBinding<TMadFunctions>& MadBinding() {
  static TRuntimeBinding<TMadFunctions> binding("libmad.so.0");
  return binding;
}
