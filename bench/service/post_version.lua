-- POST "/" with the version command, as a page would send it.
wrk.method = "POST"
wrk.body = '{"cmd":"cfp-1000","session":"bench","pdu":{}}'
wrk.headers["Content-Type"] = "text/plain"
wrk.headers["Origin"] = "https://editor.test"

local expected = '"session":"bench"}\n'
local bad = 0

response = function(status, headers, body)
  if status ~= 200 or body:sub(-#expected) ~= expected then
    bad = bad + 1
  end
end

done = function(summary, latency, requests)
  io.write(string.format("requests: %d, bad answers: %d\n", summary.requests, bad))
end
