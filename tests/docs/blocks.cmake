# The fenced code blocks of a Markdown file, for the tests that compile or run every block of
# README.md and docs/*.md (see docs/testing.md for what each info string means).
#
# nubrix_doc_blocks(MARKDOWN OUT_DIR RESULT) writes each block of MARKDOWN to a file of its own in
# OUT_DIR, named <stem>_<line> after the file's name without its extension and the line of the
# opening fence, and sets RESULT to the list of "<path>|<info string>|<line>" of the blocks in
# order. A file is rewritten only when its text changed, so that the programs built from unchanged
# blocks are not rebuilt. Fences must open their line, as ``` does on every line of our docs: an
# indented fence (inside a list item) is refused, so that no block escapes the tests unseen.
function(nubrix_doc_blocks markdown out_dir result)
  file(READ ${markdown} text)
  get_filename_component(stem ${markdown} NAME_WE)
  if(text MATCHES "\n[ \t]+```")
    message(FATAL_ERROR "${markdown}: a fence that does not open its line; code blocks stay outside lists")
  endif()
  file(MAKE_DIRECTORY ${out_dir})
  set(blocks "")
  set(rest "\n${text}")  # what is left to read, starting with the newline that ends the line before
  set(line 0)            # the number of the last line that ends before `rest`
  while(TRUE)
    string(FIND "${rest}" "\n```" open)
    if(open EQUAL -1)
      break()
    endif()
    math(EXPR skip "${open} + 1")
    string(SUBSTRING "${rest}" 0 ${skip} before)
    string(REGEX REPLACE "[^\n]" "" newlines "${before}")
    string(LENGTH "${newlines}" count)
    math(EXPR line "${line} + ${count}")  # the line of the opening fence
    math(EXPR skip "${open} + 4")
    string(SUBSTRING "${rest}" ${skip} -1 rest)
    string(FIND "${rest}" "\n" end_of_info)
    if(end_of_info EQUAL -1)
      message(FATAL_ERROR "${markdown}:${line}: a fence that ends the file")
    endif()
    string(SUBSTRING "${rest}" 0 ${end_of_info} info)
    string(STRIP "${info}" info)
    math(EXPR skip "${end_of_info} + 1")
    string(SUBSTRING "${rest}" ${skip} -1 rest)

    # The closing fence: the next line that starts with ```.
    string(FIND "\n${rest}" "\n```" close)
    if(close EQUAL -1)
      message(FATAL_ERROR "${markdown}:${line}: a code block that is never closed")
    endif()
    string(SUBSTRING "${rest}" 0 ${close} content)
    string(REGEX REPLACE "[^\n]" "" newlines "${content}")
    string(LENGTH "${newlines}" count)
    math(EXPR last "${line} + ${count} + 1")  # the line of the closing fence
    math(EXPR skip "${close} + 3")
    string(SUBSTRING "${rest}" ${skip} -1 rest)
    string(FIND "${rest}" "\n" end_of_close)
    if(end_of_close EQUAL -1)
      set(end_of_close 0)
      string(LENGTH "${rest}" end_of_close)
    endif()
    string(SUBSTRING "${rest}" 0 ${end_of_close} tail)
    if(NOT tail MATCHES "^[ \t]*$")
      message(FATAL_ERROR "${markdown}:${last}: a closing fence with text after it")
    endif()
    string(SUBSTRING "${rest}" ${end_of_close} -1 rest)
    set(line ${last})

    set(path ${out_dir}/${stem}_${line})
    set(old "")
    if(EXISTS ${path})
      file(READ ${path} old)
    endif()
    if(NOT old STREQUAL content)
      file(WRITE ${path} "${content}")
    endif()
    # The line given is the fence's; the block's text starts on the next one.
    list(APPEND blocks "${path}|${info}|${line}")
  endwhile()
  set(${result} "${blocks}" PARENT_SCOPE)
endfunction()
