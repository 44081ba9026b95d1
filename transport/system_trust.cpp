#include "transport/system_trust.h"

#include <openssl/err.h>
#include <openssl/x509_vfy.h>

#include <cstdlib>
#include <mutex>

namespace ah {
namespace {

// One per context's store; two handshakes on one context may ask at once.
struct LazyBundle {
  std::mutex mutex;
  bool loaded = false;
};

LazyBundle* BundleOf(X509_LOOKUP* lookup) {
  return static_cast<LazyBundle*>(X509_LOOKUP_get_method_data(lookup));
}

int NewBundle(X509_LOOKUP* lookup) { return X509_LOOKUP_set_method_data(lookup, new LazyBundle); }

void FreeBundle(X509_LOOKUP* lookup) { delete BundleOf(lookup); }

// Asked only when the store does not hold the name: the first time the
// bundle goes into the store, and every time the answer is what the store
// now holds (another thread may have loaded it while this one waited).
int BundleBySubject(X509_LOOKUP* lookup, X509_LOOKUP_TYPE type, const X509_NAME* name,
                    X509_OBJECT* found) {
  LazyBundle* bundle = BundleOf(lookup);
  X509_STORE* store = X509_LOOKUP_get_store(lookup);
  if (!bundle || !store) return 0;
  {
    std::lock_guard<std::mutex> lock(bundle->mutex);
    if (!bundle->loaded) {
      bundle->loaded = true;
      const char* file = std::getenv(X509_get_default_cert_file_env());
      // Through this lookup: adding one to the store would change the list
      // that the store is going through right now.
      X509_load_cert_crl_file(lookup, file ? file : X509_get_default_cert_file(),
                              X509_FILETYPE_PEM);
      ERR_clear_error();
    }
  }
  int ok = 0;
  if (!X509_STORE_lock(store)) return 0;
  X509_OBJECT* held = X509_OBJECT_retrieve_by_subject(X509_STORE_get0_objects(store), type, name);
  if (held && type == X509_LU_X509) {
    ok = X509_OBJECT_set1_X509(found, X509_OBJECT_get0_X509(held));
  } else if (held && type == X509_LU_CRL) {
    ok = X509_OBJECT_set1_X509_CRL(found, X509_OBJECT_get0_X509_CRL(held));
  }
  X509_STORE_unlock(store);
  return ok;
}

X509_LOOKUP_METHOD* LazyBundleMethod() {
  static X509_LOOKUP_METHOD* method = [] {
    X509_LOOKUP_METHOD* m = X509_LOOKUP_meth_new("ah system bundle, read on first need");
    X509_LOOKUP_meth_set_new_item(m, NewBundle);
    X509_LOOKUP_meth_set_free(m, FreeBundle);
    X509_LOOKUP_meth_set_get_by_subject(m, BundleBySubject);
    return m;
  }();
  return method;
}

}  // namespace

void TrustSystemCertificates(SSL_CTX* ctx) {
  X509_STORE* store = SSL_CTX_get_cert_store(ctx);
  X509_STORE_add_lookup(store, LazyBundleMethod());
  if (X509_LOOKUP* dir = X509_STORE_add_lookup(store, X509_LOOKUP_hash_dir())) {
    X509_LOOKUP_add_dir(dir, nullptr, X509_FILETYPE_DEFAULT);
  }
  if (X509_LOOKUP* uri = X509_STORE_add_lookup(store, X509_LOOKUP_store())) {
    X509_LOOKUP_add_store(uri, nullptr);
  }
  ERR_clear_error();
}

}  // namespace ah
