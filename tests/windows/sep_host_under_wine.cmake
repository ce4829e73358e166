# cmake -DWINDOWS_DIR=... -DLINUX_HOST=sep-host -DLINUX_PLUGINS_DIR=... -DNOT_A_LIBRARY=file
#       -DEXAMPLES=examples -DMIDI_DIR=... -DCORPUS_DIR=... -DWORK_DIR=... -DVERSION=x.y.z
#       -P sep_host_under_wine.cmake
# sep-host.exe under wine: info and validate of both Windows plug-ins say
# what the Linux host says of the Linux plug-ins, plus the file version of
# their version resource, and --version the project's version; the demo rendered with the
# Windows host and plug-ins is byte for byte the Linux render, in float and
# in 24-bit PCM, and so is a render of a MIDI file (MIDI_DIR: two-parts.mid
# played by two-parts.json; CORPUS_DIR: malformed inputs); a file that is no Windows DLL, a DLL without
# the entry points or with a missing dependency, or no file at all, gets a
# plain error, and so does the part the Windows build leaves out (check);
# malformed MIDI files and outputs that are no files are refused as on
# Linux, and a patch with a sound file (no libsndfile) is refused, leaving
# the files as they were. Prints "SKIPPED:" where wine
# cannot run here.
include(${CMAKE_CURRENT_LIST_DIR}/wine.cmake)
if(SEP_SKIP_REASON)
  message("SKIPPED: ${SEP_SKIP_REASON}")
  return()
endif()
set(host "${WINDOWS_DIR}/bin/sep-host.exe")
set(failures 0)

# expect(NAME RC REGEX command args...)
function(expect name want_rc regex)
  sep_wine(output rc "${host}" ${ARGN})
  string(REPLACE "\r" "" output "${output}")
  if(NOT rc EQUAL want_rc OR NOT output MATCHES "${regex}")
    message("FAILED ${name}: exit ${rc} (expected ${want_rc}), output:\n${output}")
    math(EXPR failures "${failures} + 1")
    set(failures ${failures} PARENT_SCOPE)
  else()
    message("ok     ${name}")
  endif()
  set(last_output "${output}" PARENT_SCOPE)
endfunction()

foreach(plugin ulvo tessarn)
  set(file "${WINDOWS_DIR}/plugins/${plugin}.sep")
  expect("info ${plugin}" 0 "id:          ${plugin}\n.*file version: ${VERSION}.0\npins:" info "${file}")
  string(REPLACE "file version: ${VERSION}.0\n" "" last_output "${last_output}")
  execute_process(COMMAND "${LINUX_HOST}" info "${LINUX_PLUGINS_DIR}/${plugin}.sep" OUTPUT_VARIABLE linux_info)
  if(NOT last_output STREQUAL linux_info)
    message("FAILED info ${plugin}: the Windows host describes the Windows plug-in otherwise than Linux does:\n${last_output}\n--- Linux:\n${linux_info}")
    math(EXPR failures "${failures} + 1")
  endif()
  expect("info --json ${plugin}" 0 "\"id\": \"${plugin}\"" info --json "${file}")
  expect("validate ${plugin}" 0 "breaches:       0\n" validate "${file}")
  expect("validate --voices 3 --block 64 --rate 48000 ${plugin}" 0 "instances:      3\n.*breaches:       0\n"
    validate --voices 3 --block 64 --rate 48000 --samples 20000 "${file}")
endforeach()
expect("--version" 0 "^sep-host ${VERSION}\n$" --version)
expect("info of a text file" 1 "is not a loadable module library \\(not a 32-bit Windows DLL" info "${NOT_A_LIBRARY}")
expect("info of a Linux plug-in" 1 "is not a loadable module library \\(not a 32-bit Windows DLL"
  info "${LINUX_PLUGINS_DIR}/ulvo.sep")
set(fixtures "${WINDOWS_DIR}/fixtures")
expect("info of a DLL without the entry points" 1 "does not export getModuleProperties and makeModule"
  info "${fixtures}/no_exports.sep")
expect("info of a DLL whose makeModule refuses" 1 "makeModule refused to create an instance"
  info "${fixtures}/refuses.sep")
expect("validate of a DLL whose makeModule refuses" 1 "refused" validate "${fixtures}/refuses.sep")
expect("info of a DLL that needs a missing DLL" 1
  "is not a loadable module library \\(the file or a DLL it needs was not found: .*\\(Windows error 126\\)\\)"
  info "${fixtures}/needs_absent.sep")
expect("info of a missing file" 1 "cannot open '[^']*missing.sep': no such file" info "${WINDOWS_DIR}/missing.sep")
expect("unknown command" 2 "unknown command" frobnicate)
expect("check" 1 "check is not in the Windows build: .*fork" check "${WINDOWS_DIR}/plugins/ulvo.sep")
expect("help names what is left out" 0 "check +not in the Windows build" --help)

# The demo, rendered on both platforms by their own host and plug-ins.
file(MAKE_DIRECTORY "${WORK_DIR}")
set(patch "${EXAMPLES}/demo-patch.json")
set(score "${EXAMPLES}/demo-score.json")
foreach(encoding float pcm24)
  set(extra "")
  if(encoding STREQUAL "pcm24")
    set(extra --pcm24)
  endif()
  set(linux_wav "${WORK_DIR}/linux-${encoding}.wav")
  set(windows_wav "${WORK_DIR}/windows-${encoding}.wav")
  execute_process(COMMAND "${LINUX_HOST}" render "${patch}" --score "${score}" -o "${linux_wav}" --quiet ${extra}
    RESULT_VARIABLE linux_rc OUTPUT_QUIET)
  expect("render ${encoding}" 0 "35 notes" render "${patch}" --score "${score}" -o "${windows_wav}" --quiet
    --plugins "${WINDOWS_DIR}/plugins" ${extra})
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${linux_wav}" "${windows_wav}" RESULT_VARIABLE differ)
  if(NOT linux_rc EQUAL 0 OR NOT differ EQUAL 0)
    message("FAILED render ${encoding}: the Windows render differs from the Linux one (Linux exit ${linux_rc}; "
      "files kept: ${linux_wav} ${windows_wav})")
    math(EXPR failures "${failures} + 1")
  else()
    message("ok     render ${encoding}: the same bytes as the Linux render")
    file(REMOVE "${linux_wav}" "${windows_wav}")
  endif()
endforeach()
# A MIDI file: every track, both channels, tempo changes, running status,
# SysEx of both forms, read by the one reader both builds compile.
set(linux_wav "${WORK_DIR}/linux-midi.wav")
set(windows_wav "${WORK_DIR}/windows-midi.wav")
set(midi_patch "${MIDI_DIR}/two-parts.json")
execute_process(COMMAND "${LINUX_HOST}" render "${midi_patch}" --midi "${MIDI_DIR}/two-parts.mid" -o "${linux_wav}"
  --quiet --plugins "${LINUX_PLUGINS_DIR}" RESULT_VARIABLE linux_rc OUTPUT_QUIET)
expect("render --midi" 0 "11 notes" render "${midi_patch}" --midi "${MIDI_DIR}/two-parts.mid" -o "${windows_wav}"
  --quiet --plugins "${WINDOWS_DIR}/plugins")
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${linux_wav}" "${windows_wav}" RESULT_VARIABLE differ)
if(NOT linux_rc EQUAL 0 OR NOT differ EQUAL 0)
  message("FAILED render --midi: the Windows render differs from the Linux one (Linux exit ${linux_rc}; "
    "files kept: ${linux_wav} ${windows_wav})")
  math(EXPR failures "${failures} + 1")
else()
  message("ok     render --midi: the same bytes as the Linux render")
  file(REMOVE "${linux_wav}")
endif()

# What Linux refuses, Windows refuses, leaving the files as they were.
file(WRITE "${WORK_DIR}/kept.wav" "the previous render")
expect("render of a MIDI file whose track runs past its end" 1
  "track-beyond-the-file.mid: at byte 18: a chunk of 2147483647 bytes" render "${midi_patch}"
  --midi "${CORPUS_DIR}/track-beyond-the-file.mid" -o "${WORK_DIR}/kept.wav" --plugins "${WINDOWS_DIR}/plugins")
expect("render into a device" 1 "NUL: is a device or a pipe, not a regular file"
  render "${midi_patch}" --midi "${MIDI_DIR}/two-parts.mid" -o NUL --plugins "${WINDOWS_DIR}/plugins")
expect("render into a folder" 1 "is a folder" render "${midi_patch}" --midi "${MIDI_DIR}/two-parts.mid"
  -o "${WORK_DIR}" --plugins "${WINDOWS_DIR}/plugins")
expect("render beyond 4 GiB" 1 "more than a WAV file holds \\(4 GiB\\)" render "${midi_patch}" --seconds 60
  --rate 10000000 -o "${WORK_DIR}/kept.wav" --plugins "${WINDOWS_DIR}/plugins")
expect("render of a missing patch" 1 "no-patch.json: cannot open the file" render "${WORK_DIR}/no-patch.json"
  -o "${WORK_DIR}/kept.wav")
# Sound files are read with libsndfile, which the Windows build has not.
file(WRITE "${WORK_DIR}/file-node.json" "{\"modules\": [{\"name\": \"osc\", \"sep\": \"ulvo.sep\"}],
  \"nodes\": [{\"name\": \"src\", \"type\": \"file\", \"file\": \"in.wav\"}, {\"name\": \"out\", \"type\": \"output\"}],
  \"connections\": [[\"osc.outputl\", \"out.left\"]]}")
expect("render of a patch with a file node" 1 "cannot read sound files \\(it is built without libsndfile\\)"
  render "${WORK_DIR}/file-node.json" --seconds 0.1 -o "${WORK_DIR}/kept.wav" --plugins "${WINDOWS_DIR}/plugins")
file(READ "${WORK_DIR}/kept.wav" kept)
if(NOT kept STREQUAL "the previous render")
  message("FAILED a failed render changed the file it was to replace")
  math(EXPR failures "${failures} + 1")
endif()
file(GLOB left_behind "${WORK_DIR}/.*.part-*")
if(left_behind)
  message("FAILED temporary files left behind: ${left_behind}")
  math(EXPR failures "${failures} + 1")
endif()

if(failures GREATER 0)
  message(FATAL_ERROR "${failures} sep-host.exe checks failed")
endif()
