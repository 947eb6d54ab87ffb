#pragma once
// The non-blocking datagram socket of the peer channel.
#include <cstdint>

constexpr int UDP_FIRST_PORT = 3000;
constexpr int UDP_LAST_PORT = 3100;

// Binds the first free port from 3000 to 3100; with all of them taken the socket stays
// unbound (the system picks a port at the first send). 0 or an errno.
int udp_create(int* socket_out);
int udp_destroy(int socket);
// One datagram: *count 0 and 0 when none is waiting. Address and port in network order.
int udp_receive(int socket, void* buffer, int size, int* count, uint32_t* address, uint16_t* port);
// Every third call, counted from the first (the first, fourth, seventh ...), sends nothing
// and returns 0. Address and port in network order.
int udp_send(int socket, const void* data, int length, uint32_t address, uint16_t port);
// Starts the send count again (module reset).
void udp_reset_send_count();
