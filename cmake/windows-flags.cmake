# Size, static runtime and link settings for the Windows builds.
if(MINGW)
  # Small: optimise for size and drop every unreferenced function and datum.
  add_compile_options(-ffunction-sections -fdata-sections)
  # The program has one thread, so function-local statics need no lock (and no libstdc++ guard).
  add_compile_options(-fno-threadsafe-statics)
  # Static runtime: no MinGW DLL has to ship beside the program.
  add_link_options(-static -static-libgcc -static-libstdc++ -Wl,--gc-sections -s)
  # ASLR and DEP; high-entropy ASLR on 64-bit.
  add_link_options(-Wl,--dynamicbase -Wl,--nxcompat)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    add_link_options(-Wl,--high-entropy-va)
  endif()
  # Windows 7 is the oldest system it runs on; an older subsystem version would also make
  # Windows treat it as a legacy program (older frame metrics, for one).
  add_link_options(-Wl,--major-subsystem-version,6,--minor-subsystem-version,1
                   -Wl,--major-os-version,6,--minor-os-version,1)
  # Reproducible: no link time stamp, no build folder in the binary.
  add_link_options(-Wl,--no-insert-timestamp)
  add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=.)
elseif(MSVC)
  # Static runtime; no debug directory time stamp, ASLR/DEP (MSVC defaults, stated here).
  set(CMAKE_MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
  add_link_options(/DYNAMICBASE /NXCOMPAT /Brepro)
  add_compile_options(/Brepro /Zc:threadSafeInit-)
endif()
