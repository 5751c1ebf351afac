// Redirects one of this program's imports to a routine of the test's own, for as long as the
// guard lives: the runtime code linked into the program calls through the same import table, so a
// test sees which platform calls it makes.
#pragma once

class ImportPatch {
  public:
    ImportPatch(const char *dll, const char *function, void *replacement);
    ~ImportPatch();
    ImportPatch(const ImportPatch &) = delete;
    ImportPatch &operator=(const ImportPatch &) = delete;

    bool Active() const { return slot != nullptr; }
    void *Original() const { return original; } // the platform's routine

  private:
    void **slot;
    void *original = nullptr;
};
