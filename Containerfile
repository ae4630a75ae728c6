# quillow-serve on Debian bookworm. Build the package first (`make package`
# leaves build/quillow_*.deb), then: podman build -t quillow-serve .
FROM debian:bookworm-slim
COPY build/quillow_*.deb /tmp/
RUN apt-get update \
 && apt-get install -y --no-install-recommends /tmp/quillow_*.deb \
 && rm -rf /var/lib/apt/lists/* /tmp/quillow_*.deb \
 && useradd --system --uid 10001 --home-dir /nonexistent --shell /usr/sbin/nologin quillow
USER 10001
ENV QT_QPA_PLATFORM=offscreen XDG_CACHE_HOME=/tmp/cache XDG_RUNTIME_DIR=/tmp TMPDIR=/tmp
EXPOSE 8080
# Inside a container the port is published, so it listens on every address.
ENTRYPOINT ["/usr/bin/quillow-serve", "--listen", "0.0.0.0:8080"]
