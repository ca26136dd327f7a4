#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
# The update check's test server: http.server behind TLS on 127.0.0.1 and a free port,
# serving the files of DOCROOT. A file "redirect" in DOCROOT turns every GET below
# /tavrin/ into a 302 to the address it holds; each request is logged to LOGFILE as
# "<user agent> <path>". The port is written to PORTFILE once it listens. Ends by
# itself when the process that started it ends. Used by the Linux tests
# (HttpsTestServer) and by the Windows ones under Wine (scripts/win32-net-test.sh).
#   https_test_server.py DOCROOT CERT KEY PORTFILE LOGFILE
import http.server, os, ssl, sys, threading, time
docroot, cert, key, portfile, logfile = sys.argv[1:6]
parent = os.getppid()

class Handler(http.server.SimpleHTTPRequestHandler):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, directory=docroot, **kwargs)
    def do_GET(self):
        with open(logfile, 'a') as log:
            log.write('%s %s\n' % (self.headers.get('User-Agent', ''), self.path))
        redirect = os.path.join(docroot, 'redirect')
        if self.path.startswith('/tavrin/') and os.path.exists(redirect):
            with open(redirect) as f:
                target = f.read().strip()
            self.send_response(302)
            self.send_header('Location', target)
            self.send_header('Content-Length', '0')
            self.end_headers()
            return
        super().do_GET()
    def log_message(self, *args):
        pass

def watch_parent():
    while os.getppid() == parent:
        time.sleep(0.5)
    os._exit(0)

threading.Thread(target=watch_parent, daemon=True).start()
server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), Handler)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
server.socket = context.wrap_socket(server.socket, server_side=True)
with open(portfile + '.tmp', 'w') as f:
    f.write(str(server.server_address[1]))
os.rename(portfile + '.tmp', portfile)
server.serve_forever()
