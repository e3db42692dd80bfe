# cmake -DIN=orvchatserver.cfg -DOUT=file -P lan_settings.cmake
# Writes IN to OUT with ServerIP empty (listen on every local address) and CR LF line ends.
file(READ ${IN} text)
string(REPLACE "\r\n" "\n" text "${text}")
string(REGEX REPLACE "<ServerIP>\n[^\n]*\n</ServerIP>" "<ServerIP>\n</ServerIP>" text "${text}")
string(REPLACE "Address and port to listen on. 127.0.0.1 serves this machine only; use the
address of the LAN interface to serve the LAN." "Address and port to listen on. Empty: every address of this machine; 127.0.0.1 serves
this machine only." text "${text}")
if(NOT text MATCHES "<ServerIP>\n</ServerIP>")
  message(FATAL_ERROR "${IN}: no ServerIP block to empty")
endif()
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUT} "${text}")
