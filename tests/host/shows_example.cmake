# Fails when DOC does not show EXAMPLE as it is, in a cpp code block.
file(READ ${DOC} doc)
file(READ ${EXAMPLE} example)
string(FIND "${doc}" "```cpp\n${example}```" at)
if(at LESS 0)
  message(FATAL_ERROR "${DOC} does not show ${EXAMPLE} as it is")
endif()
