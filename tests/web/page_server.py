"""A static web server on 127.0.0.1 for the page, as any static host would serve it, under the
strictest policy that lets the page run: nothing from anywhere, its inline style and script,
and WebAssembly. It answers the page's one address and nothing else, and notes every request."""
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

POLICY = ("default-src 'none'; script-src 'unsafe-inline' 'wasm-unsafe-eval'; "
          "style-src 'unsafe-inline'; img-src data:")


class PageServer:
    def __init__(self, page, path="/kavoni.html"):
        body = page.read_bytes()
        requests = self.requests = []

        class Handler(BaseHTTPRequestHandler):
            def do_GET(self):
                requests.append(self.path)
                if self.path != path:
                    self.send_error(404)
                    return
                self.send_response(200)
                self.send_header("Content-Type", "text/html; charset=utf-8")
                self.send_header("Content-Length", str(len(body)))
                self.send_header("Content-Security-Policy", POLICY)
                self.send_header("Cache-Control", "no-store")
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        self._server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.url = f"http://127.0.0.1:{self._server.server_address[1]}{path}"
        threading.Thread(target=self._server.serve_forever, daemon=True).start()

    def close(self):
        self._server.shutdown()
        self._server.server_close()
