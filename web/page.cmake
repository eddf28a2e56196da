# Makes zelmar.html, the page that holds everything: the terminal's styles and script, the
# program, and the page's own scripts, each put in where page.html.in names it.
# Usage: cmake -DPROGRAM=zelmar.js -DTERMINAL=DIR -DFIT=FITDIR -DOUTPUT=zelmar.html -P web/page.cmake
#   DIR is the terminal's npm package (web/node_modules/@xterm/xterm), FITDIR its addon that sizes it
#   to the window (web/node_modules/@xterm/addon-fit).
set(web ${CMAKE_CURRENT_LIST_DIR})
file(READ ${TERMINAL}/css/xterm.css XTERM_CSS)
file(READ ${TERMINAL}/lib/xterm.js XTERM_JS)
file(READ ${FIT}/lib/addon-fit.js FIT_JS)
file(READ ${web}/worker.js WORKER_JS)
file(READ ${web}/flow.js FLOW_JS)
file(READ ${PROGRAM} PROGRAM_JS)
file(READ ${web}/page.js PAGE_JS)
# The worker's host and the page both follow the protocol that the program has in front of it; the
# worker's host hands the program's output and input to the flow in front of it, and the page's
# keyboard (keys.js) comes before the page's script, which uses it.
file(READ ${web}/protocol.js PROTOCOL_JS)
file(READ ${web}/keys.js KEYS_JS)
string(PREPEND WORKER_JS "${PROTOCOL_JS}${FLOW_JS}")
string(PREPEND PAGE_JS "${PROTOCOL_JS}${KEYS_JS}")
foreach(part IN ITEMS XTERM_JS FIT_JS WORKER_JS PROGRAM_JS PAGE_JS)
    string(TOLOWER "${${part}}" text)
    if(text MATCHES "</script")
        message(FATAL_ERROR "${part} holds </script, which would end its element in the page early")
    endif()
endforeach()
configure_file(${web}/page.html.in ${OUTPUT} @ONLY)
